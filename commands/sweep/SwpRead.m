%SWPREAD  Collect one sweep of samples from a running sweep (short-record) session
%
%   [leading, sweep] = SwpRead(mode)
%   leading = SwpRead(mode)
%
%   mode     the sweep mode given to SwpStart; first element, truncated
%            toward zero. Mode 2 takes a leading record and then a sweep;
%            any other mode takes the sweep only. A second argument, and any
%            after it, is ignored.
%   leading  671 x 2 double: in mode 2 the leading record's 1342 samples in
%            column order (samples 1-671 in column 1); all zeros otherwise.
%   sweep    8 x 1000 double: the sweep record's 8000 consecutive samples
%            in column order (samples 1-8 fill column 1, 9-16 column 2).
%   Samples are signed 16-bit counts (-32768 to 32767), unscaled. When the
%   sweep is not asked for it is still taken from the board and discarded.
%
%   Sends no DAPL line and drains nothing: samples already waiting on the
%   binary channel are the first of the call. Each record has a window of
%   10 s (1000 ticks of 10 ms); the call returns as soon as its records are
%   complete. What has not arrived when a window closes stays 0, without a
%   message, and arrives later as the start of the next record taken. With
%   no data a call lasts 10 s (20 s in mode 2).
%
%   If a channel cannot be opened, prints "Error opening accel0, errno=N"
%   (or accel1) and returns without results.
%   Ctrl-C prints "Closing binary and text channels to DAP." and "Exiting
%   MEX function." on the process's standard output (not the command
%   window), lets go of both channels and passes the interrupt on.
%
%   Errors (raised before the board is touched):
%     dap:usage           no argument, or one that is not a non-empty
%                         real double array;
%     dap:tooManyOutputs  more than two outputs were asked for.
%   Warning: dap:readFailed  a read of the binary channel failed; the
%            samples it would have held stay 0.
%
%   Example:
%     SwpInit; SwpStart(2);
%     [leading, sweep] = SwpRead(2);   % 1342 leading samples (671 x 2), then
%                                      % the 8000 of one sweep (8 x 1000)
%     plot((0:7999) * 0.05, sweep(:))  % against ms: 50 us a sample on the
%                                      % simulated board
%
%   See also SwpInit, SwpOpen, SwpStart, SwpOffset, SwpStop, SwpClose.
