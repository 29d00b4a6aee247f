%GATEINIT  Triggered acquisition: load the threshold gate program "recthrsh.dap"
%
%   GateInit
%
%   Sends "recthrsh.dap" from the DAPL directory
%   "/home/labrig/matlab/intrfc/dap/" on the text channel, line feeds
%   turned into carriage returns. GateInit starts no task itself: the
%   tasks that feed GateRead must be set running by the file or by a start
%   line sent with BrdCmd. The board is not reset and no answer is read.
%
%   Takes no argument (any given is ignored), returns nothing, prints
%   nothing. A missing file is not sent: a warning names it
%   (dap:programNotFound).
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
%   Example (the gate's tasks start as the file is loaded):
%     GateInit;
%     BrdCmd('let thresh=600');   % the gate's threshold, in counts
%     m = GateRead;               % 3 x 1000, one column per excursion
%     kept = m(:, any(m, 1));     % the records that came: peak; width; number
%   On the simulated board, at the threshold of 300 that recthrsh.dap sets,
%   the 1000 records are in after about 5.5 s; at 600 about 650 come in the
%   10 s, fewer and narrower (see examples/threshold_gate.m).
%
%   See also GateRead, BrdCmd.
