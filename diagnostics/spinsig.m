%SPINSIG  Diagnostic: spin until Ctrl-C, taken by a handler of its own
%
%   spinsig
%
%   Installs its own SIGINT handler and spins, keeping a processor busy,
%   until Ctrl-C. The handler prints "Ok, bye.", puts back the handler that
%   was there before and raises the interrupt again, so MATLAB then handles
%   it as usual (Octave, which takes Ctrl-C on a thread of its own, sees it
%   once spinsig returns). Shows which handler a Ctrl-C reaches while a
%   plug-in is busy. Never returns without Ctrl-C. Takes no argument (any
%   given is ignored), returns nothing, does not touch the DAP board.
%
%   Example:
%     spinsig   % spins; press Ctrl-C: prints "Ok, bye." and the prompt
%               % comes back
%
%   See also spinexit, hello, test, plotdemo.
