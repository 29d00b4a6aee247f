%TANDEMREAD  Triggered acquisition: tandem pulse trains to eight channels, one reply from each
%
%   v = TandemRead(counts)
%
%   counts  real double array of at least 8 elements; element i (first 8
%           in storage order) is the number of pulse records sent for
%           channel i-1. A fraction rounds up (2.5 sends 3); 0, negative
%           values and NaN send none; at most 1000000. A second argument,
%           and any after it, is ignored.
%   v       1 x 8 double: v(i) = 4*w1 + 2*w2 + w3 from the three signed
%           16-bit words of channel i-1's reply (with words 0 or 1, a
%           three-bit number, w1 the high bit); 0 when no valid reply came.
%
%   Drains the binary and then the text channel, then for each channel in
%   turn: writes its pulse records and one idle record on the binary
%   channel (the channel number rides in bits 12-14, bit order reversed),
%   waits a tick, sends "start echreadd,echreadc", waits up to 10 s (1000
%   ticks of 10 ms) for the 6-byte reply, takes it only if exactly 6 bytes
%   are waiting (a late reply stays and is taken by the next channel), and
%   sends "stop echreadc". A channel that never answers costs 10 s, so a
%   call without replies lasts about 80 s. Prints nothing. Needs
%   TandemInit and TandemStart first.
%
%   If a channel cannot be opened, prints "Error opening accel0, errno=N"
%   (or accel1) and returns without a result.
%   Ctrl-C prints "Closing binary and text channels to DAP." and "Exiting
%   MEX function.", lets go of both channels and passes the interrupt on.
%
%   Errors (raised before the board is touched):
%     dap:usage           no argument, or not a real double array of at
%                         least 8 elements;
%     dap:badArgument     a pulse count above 1000000;
%     dap:tooManyOutputs  more than one output was asked for.
%   Warnings: dap:drainFailed, dap:drainBounded, dap:readFailed.
%   Warning: dap:writeFailed  the driver refused a write; a channel whose
%            start line it took none of gets 0 without a wait.
%
%   Example:
%     TandemInit; TandemStart;
%     v = TandemRead([1 2 3 4 5 6 7 0])   % 1 x 8, one reply a channel; on the
%                                         % simulated board each channel's
%                                         % pulse count modulo 8:
%                                         % v = [1 2 3 4 5 6 7 0]
%
%   See also TandemInit, TandemStart.
