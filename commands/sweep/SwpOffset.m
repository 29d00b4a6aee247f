%SWPOFFSET  Measure the two input offsets of a loaded sweep (short-record) session
%
%   offsets = SwpOffset
%
%   Sends "start offseta,offsetb", waits up to 10 s (1000 ticks of 10 ms)
%   for one 4-byte offset record on the binary channel, reads it and sends
%   "stop offsetb". offseta, the board's own offset tracker, keeps running.
%
%   offsets  1 x 2 double [first second], each a signed 16-bit count
%            (-32768 to 32767), unscaled. A value whose bytes did not
%            arrive within the 10 s stays 0, without a message.
%
%   The tasks come from the session's DAPL programs (SwpInit). The binary
%   channel is not drained first: bytes already waiting there are taken as
%   the offset record. Returns as soon as the record is in. Takes no
%   argument (any given is ignored).
%
%   If a channel cannot be opened, prints "Error opening accel0, errno=N"
%   (or accel1) and returns without a result; nothing is sent.
%   Ctrl-C prints "Closing binary and text channels to DAP." and "Exiting
%   MEX function." on the process's standard output (not the command
%   window), lets go of both channels and passes the interrupt on;
%   offsetb may then be left running.
%
%   Errors:  dap:tooManyOutputs  more than one output was asked for.
%   Warning: dap:readFailed  a read of the binary channel failed; what it
%            would have held stays 0.
%   Warning: dap:writeFailed  the driver refused a write; if it took none
%            of the start line, the call returns at once with zeros.
%
%   Example (a whole session):
%     SwpInit; SwpStart(2);
%     [leading, sweep] = SwpRead(2);   % 1342 leading samples (671 x 2), then
%                                      % the 8000 of one sweep (8 x 1000)
%     offsets = SwpOffset              % 1 x 2 counts; about [-150 36] on
%                                      % the simulated board
%     SwpStop(2); SwpClose;
%
%   See also SwpInit, SwpStart, SwpRead, SwpStop, SwpClose.
