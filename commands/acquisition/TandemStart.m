%TANDEMSTART  Triggered acquisition: start the decoder tasks of the tandem pulse-and-reply program
%
%   TandemStart
%
%   Sends "start echreadb,echreada" on the text channel: the tasks that
%   decode the pulse records TandemRead writes. Load them first with
%   TandemInit. No command of the family stops them.
%
%   Takes no argument (any given is ignored), returns nothing, prints
%   nothing, returns at once; the board's answer is not read.
%
%   If a channel cannot be opened, prints "Error opening accel0, errno=N"
%   (or accel1) and returns; nothing is sent.
%   Ctrl-C prints "Closing binary and text channels to DAP." and "Exiting
%   MEX function.", lets go of both channels and passes the interrupt on.
%
%   Errors:  dap:tooManyOutputs  an output was asked for.
%   Warning: dap:writeFailed  the driver refused a write, or took part of it.
%
%   Example:
%     TandemInit; TandemStart;
%     v = TandemRead([1 2 3 4 5 6 7 0])   % 1 x 8, one reply a channel; on the
%                                         % simulated board each channel's
%                                         % pulse count modulo 8:
%                                         % v = [1 2 3 4 5 6 7 0]
%
%   See also TandemInit, TandemRead.
