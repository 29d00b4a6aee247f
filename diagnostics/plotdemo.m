%PLOTDEMO  Diagnostic: plot a fixed 2 x 2 matrix through the host's plot
%
%   plotdemo
%
%   Calls plot([5.2 1.3; 7.9 4.2]) from inside the plug-in, to show that a
%   plug-in can call back into MATLAB: two lines against x = 1:2, one per
%   column, (5.2, 7.9) and (1.3, 4.2). Takes no argument (any given is
%   ignored), returns nothing, does not touch the DAP board.
%
%   Example:
%     plotdemo   % a figure with the lines (1, 5.2)-(2, 7.9) and
%                % (1, 1.3)-(2, 4.2)
%
%   See also hello, test, spinsig, spinexit.
