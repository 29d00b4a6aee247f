%PAIRSTART  Stimulus output: start the two-pulse stimulus tasks
%
%   PairStart
%
%   Waits 0.1 s (10 ticks of 10 ms) after opening the channels, since the
%   board needs a moment before it takes a start, then sends "start
%   twplsa,twplsb" on the text channel. Load the tasks with PairInit first;
%   no command of the family stops them.
%
%   Takes no argument (any given is ignored), returns nothing, prints
%   nothing; a call lasts 0.1 s. The board's answer is not read. A start
%   line the driver refuses (said, dap:writeFailed) starts nothing: run
%   PairStart again before PairSend.
%
%   If a channel cannot be opened, prints "Error opening accel0, errno=N"
%   (or accel1) and returns; nothing is sent.
%   Ctrl-C prints "Closing binary and text channels to DAP." and "Exiting
%   MEX function.", lets go of both channels and passes the interrupt on;
%   during the wait, the start line is not sent.
%
%   Errors:  dap:tooManyOutputs  an output was asked for.
%   Warning: dap:writeFailed  the driver refused a write, or took part of it.
%
%   Example:
%     PairInit; PairStart;
%     PairSend(round(8000 * sin(2 * pi * (0:599)' / 100)));   % 600 entries,
%                        % played alternately on a0 and a1; returns nothing
%
%   See also PairInit, PairSend, PairOut.
