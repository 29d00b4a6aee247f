%HELLO  Diagnostic: print a greeting, to show that a plug-in loads
%
%   hello
%
%   Prints "hello, world!" in the command window through the MEX
%   interface. Takes no argument (any given is ignored), returns nothing,
%   does not touch the DAP board.
%
%   The diagnostics live in their own folder, never on the default path:
%   build/diagnostics in the build tree, <prefix>/lib/dap/diagnostics once
%   installed (for MATLAB, build/matlab/diagnostics and
%   <prefix>/lib/dap/matlab/diagnostics). Add it with addpath only for a
%   session of checks, as its plug-in "test" shadows the host's own test
%   function.
%
%   Example:
%     hello   % prints: hello, world!
%
%   See also test, plotdemo, spinsig, spinexit.
