%TANDEMINIT  Triggered acquisition: load the tandem pulse-and-reply program "echread.dap"
%
%   TandemInit
%
%   Sends "echread.dap" from the DAPL directory
%   "/home/labrig/matlab/intrfc/dap/" on the text channel, line feeds
%   turned into carriage returns. It is to define the tasks echreada,
%   echreadb, echreadc and echreadd that TandemStart and TandemRead use.
%   The board is not reset, nothing is started and no answer is read.
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
%   Session: TandemInit, TandemStart, then v = TandemRead(counts).
%
%   Example:
%     TandemInit; TandemStart;
%     v = TandemRead([1 2 3 4 5 6 7 0])   % 1 x 8, one reply a channel; on the
%                                         % simulated board each channel's
%                                         % pulse count modulo 8:
%                                         % v = [1 2 3 4 5 6 7 0]
%
%   See also TandemStart, TandemRead.
