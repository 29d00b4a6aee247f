%PAIRINIT  Stimulus output: load the two-pulse stimulus program "twpls.dap"
%
%   PairInit
%
%   Sends "twpls.dap" from the DAPL directory
%   "/home/labrig/matlab/intrfc/dap/" on the text channel, line feeds
%   turned into carriage returns. It is to define the stimulus tasks
%   twplsa and twplsb that PairStart starts and PairSend feeds. The board
%   is not reset, nothing is started and no answer is read.
%
%   Takes no argument (any given is ignored), returns nothing, prints
%   nothing. A missing file is not sent: a warning names it
%   (dap:programNotFound). A program the driver refuses (said,
%   dap:writeFailed) is not on the board: run PairInit again before
%   PairStart and PairSend, which send no program of their own.
%
%   If a channel cannot be opened, prints "Error opening accel0, errno=N"
%   (or accel1) and returns; nothing is sent.
%   Ctrl-C prints "Closing binary and text channels to DAP." and "Exiting
%   MEX function.", lets go of both channels and passes the interrupt on.
%
%   Errors:  dap:tooManyOutputs  an output was asked for.
%   Warning: dap:transferBounded  the transfer stopped after 16 MiB.
%   Warning: dap:programNotFound  a program file could not be opened or read,
%            or is no regular file (a FIFO or device: refused at once).
%   Warning: dap:writeFailed  the driver refused a write, or took part of it.
%
%   Session: PairInit, PairStart, then PairSend(values) as often as needed.
%
%   Example:
%     PairInit; PairStart;
%     PairSend(round(8000 * sin(2 * pi * (0:599)' / 100)));   % 600 entries,
%                        % played alternately on a0 and a1; returns nothing
%
%   See also PairStart, PairSend, PairOut.
