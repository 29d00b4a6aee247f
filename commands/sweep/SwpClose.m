%SWPCLOSE  Stop the record tasks that end a sweep (short-record) session or a marathon run
%
%   SwpClose
%
%   Waits 0.1 s (10 ticks of 10 ms), so the record tasks can pass on what
%   they still hold, then sends "stop recorda,recordb" on the text channel.
%   It is the last step of a sweep session, and the way to stop a marathon
%   run that Ctrl-C interrupted. The line is sent whether or not the tasks
%   run; no answer is read and the binary channel is not used.
%
%   Takes no argument (any given is ignored), returns nothing, prints
%   nothing.
%
%   If a channel cannot be opened, prints "Error opening accel0, errno=N"
%   (or accel1) and returns; nothing is sent.
%   Ctrl-C: no guard lines; the wait ends within a tick, the stop line is
%   not sent, the channels are closed and the host acts on the interrupt.
%
%   Errors:  dap:tooManyOutputs  an output was asked for.
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
%   See also SwpInit, SwpOpen, SwpStart, SwpRead, SwpOffset, SwpStop,
%   marathon.
