%HELLO  Diagnostic: print a greeting, to show that a plug-in loads
%
%   hello
%
%   Prints "hello, world!" in the command window through the MEX
%   interface. Takes no argument (any given is ignored), returns nothing,
%   does not touch the DAP board.
%
%   The diagnostics live in their own folder (build/diagnostics), never on
%   the default path: add it with addpath only for a session of checks, as
%   its plug-in "test" shadows MATLAB's own test function.
%
%   See also test, plotdemo, spinsig, spinexit.
