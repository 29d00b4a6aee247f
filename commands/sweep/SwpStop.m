%SWPSTOP  Stop the recording tasks of a sweep session
%
%   SwpStop(mode)
%
%   mode  the sweep mode given to SwpStart; only its first element counts,
%         truncated toward zero.
%         2:    sends "stop shrtreca" and "stop shrtrecb";
%         other values: sends "stop shrtreca" and "stop shrtrecc".
%   Given the other variant's mode it stops that variant's task instead of
%   the one running. The pipe trigpipe is left as it is. To stop the record
%   tasks (recorda, recordb) as well, call SwpClose.
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
%   See also SwpInit, SwpOpen, SwpStart, SwpRead, SwpOffset, SwpClose.
