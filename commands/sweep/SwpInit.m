%SWPINIT  Load the DAPL programs of a sweep (short-record) session onto the board
%
%   SwpInit
%
%   First step of a short-record (sweep) session: sends "shrtrec.dap" and
%   then "opstim.dap" from the DAPL directory
%   "/home/labrig/matlab/intrfc/dap/" on the text channel, line feeds
%   turned into carriage returns. They are to define the tasks (shrtreca,
%   shrtrecb, shrtrecc, offseta, offsetb, recorda, recordb) and the pipe
%   trigpipe that SwpStart, SwpRead, SwpOffset, SwpStop and SwpClose use by
%   name. The board is not reset and nothing is started.
%
%   Takes no argument (any given is ignored), returns nothing, prints
%   nothing. A file that is missing is skipped with a warning naming it
%   (dap:programNotFound); the other one is still sent. SwpOpen loads the
%   session's variant kept in the current folder instead.
%
%   If a channel cannot be opened, prints "Error opening accel0, errno=N"
%   (or accel1) and returns; nothing is sent.
%   Ctrl-C prints "Closing binary and text channels to DAP." and "Exiting
%   MEX function.", lets go of both channels and passes the interrupt on.
%
%   Errors:  dap:tooManyOutputs  an output was asked for.
%   Warning: dap:transferBounded  a file transfer stopped after 16 MiB.
%   Warning: dap:programNotFound  a program file could not be opened or read,
%            or is no regular file (a FIFO or device: refused at once).
%   Warning: dap:writeFailed  the driver refused a write, or took part of it.
%
%   Session: SwpInit, SwpStart(mode), SwpRead(mode) per sweep, SwpOffset,
%   SwpStop(mode), SwpClose.
%
%   Example (a whole session):
%     SwpInit; SwpStart(2);
%     [leading, sweep] = SwpRead(2);   % 1342 leading samples (671 x 2), then
%                                      % the 8000 of one sweep (8 x 1000)
%     offsets = SwpOffset              % 1 x 2 counts; about [-150 36] on
%                                      % the simulated board
%     SwpStop(2); SwpClose;
%
%   See also SwpOpen, SwpStart, SwpRead, SwpOffset, SwpStop, SwpClose,
%   marathon.
