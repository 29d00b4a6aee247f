%SPINEXIT  Diagnostic: register an unload hook that ends the process, then spin
%
%   spinexit
%
%   Registers an unload hook and spins, keeping a processor busy, until
%   Ctrl-C ends the call. When the plug-in is later unloaded (clear
%   spinexit, clear all, or quitting MATLAB) the hook prints "Ok, bye." and
%   ENDS THE WHOLE MATLAB PROCESS (exit status 0): save your work first.
%   Shows whether the host runs unload hooks. Takes no argument (any given is
%   ignored), returns nothing, does not touch the DAP board.
%
%   Example (save your work first):
%     spinexit         % spins; press Ctrl-C to get the prompt back
%     clear spinexit   % prints "Ok, bye." and MATLAB ends
%
%   See also spinsig, hello, test, plotdemo.
