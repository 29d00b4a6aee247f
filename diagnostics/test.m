%TEST  Diagnostic: echo a text argument, to show that text reaches a plug-in
%
%   test(text)
%
%   text  a character array. Prints "The string you sent me is: <text>"
%         (the characters column by column) and then "hi". Returns nothing,
%         does not touch the DAP board. A second argument, and any after it,
%         is ignored.
%
%   Errors (dap:usage): no argument ("usage: test('text')"); an argument
%   that is not text ("Could not convert string data."), in which case
%   nothing is printed.
%
%   This plug-in shadows the host's own test function while its folder
%   (build/diagnostics in the build tree, <prefix>/lib/dap/diagnostics
%   installed; for MATLAB build/matlab/diagnostics and
%   <prefix>/lib/dap/matlab/diagnostics) is on the path: add the folder
%   only for a session of checks and remove it with rmpath afterwards.
%
%   Example:
%     test('abc')   % prints: The string you sent me is: abc
%                   %         hi
%
%   See also hello, plotdemo, spinsig, spinexit.
