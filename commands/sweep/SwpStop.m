%SWPSTOP  Stop the recording tasks of a sweep (short-record) session
%
%   SwpStop(mode)
%
%   mode  the sweep mode given to SwpStart; only its first element counts,
%         truncated toward zero.
%         2:    sends "stop shrtreca" and "stop shrtrecb";
%         other values: sends "stop shrtreca" and "stop shrtrecc".
%   Given the other variant's mode it stops that variant's task instead of
%   the one running. The pipe trigpipe is left as it is. To stop the record
%   tasks (recorda, recordb) as well, call SwpClose. A second argument, and
%   any after it, is ignored.
%
%   Returns nothing, prints nothing, returns at once; the board's answer is
%   not read.
%
%   If a channel cannot be opened, prints "Error opening accel0, errno=N"
%   (or accel1) and returns; nothing is sent.
%   Ctrl-C prints "Closing binary and text channels to DAP." and "Exiting
%   MEX function.", lets go of both channels and passes the interrupt on.
%
%   Errors (raised before the board is touched):
%     dap:usage           no argument, or one that is not a non-empty
%                         real double array;
%     dap:tooManyOutputs  an output was asked for.
%   Warning: dap:writeFailed  the driver refused a write, or took part of it.
%
%   Example (a whole session):
%     SwpInit; SwpStart(2);
%     [leading, sweep] = SwpRead(2);   % 1342 leading samples (671 x 2), then
%                                      % the 8000 of one sweep (8 x 1000)
%     offsets = SwpOffset              % 1 x 2 counts; about [-150 36] on
%                                      % the simulated board
%     SwpStop(2); SwpClose;
%
%   See also SwpInit, SwpOpen, SwpStart, SwpRead, SwpOffset, SwpClose.
