%STIMRESP2  Stimulus-response run with eight event thresholds, one pass
%
%   R = StimResp2(thresholds)
%
%   thresholds  real double row of exactly 1 x 8; element k+1 is set on
%               the board as the variable THRk (k = 0 to 7), truncated
%               toward zero, low 16 bits as a signed count (-12.7 gives
%               -12, 40000 gives -25536).
%   R           300 x 9 double, the event matrix as StimResp returns it:
%               column c+1 holds channel c (0 to 8); the k-th event fills
%               rows 3k-2 to 3k with its time (the board's own 32-bit time
%               stamp, unsigned, in counts of the board program's event
%               clock: 10000 a second on the simulated board, from the start
%               of the event tasks), value1 and value2 (signed 16-bit
%               counts); at most 100 events per channel.
%   A second argument is refused (dap:usage), as is none.
%
%   Resets the board (RESET, then drains the text and the binary channel),
%   sends "opstim2.dap" and "stimresp2.dap" from the DAPL directory
%   "/home/labrig/matlab/intrfc/dap/", waits 0.1 s, sends "LET THR0=..."
%   to "LET THR7=..." one line each, waits 0.1 s, sends "start
%   stimrespa,stimrespb,ledstim2a,ledstim2b", writes the 1004-byte
%   stimulus pulse table once, collects event records for 11 s (1100 ticks
%   of 10 ms) and waits 0.1 s more. A call lasts about 11.5 s. No board
%   loader is run; the tasks are left running. Prints nothing.
%
%   If a channel cannot be opened, prints "Error opening accel0, errno=N"
%   (or accel1) and returns R all zeros.
%   Ctrl-C prints "Closing binary and text channels to DAP." and "Exiting
%   MEX function.", lets go of both channels and passes the interrupt on.
%
%   Errors (raised before the board is touched):
%     dap:usage           not exactly one real double 1 x 8 row ("StimResp2
%                         usage: StimResp2([1 x 8 vector of thresholds])");
%     dap:tooManyOutputs  more than one output was asked for.
%   Warnings: dap:drainFailed, dap:drainBounded, dap:transferBounded,
%             dap:programNotFound, dap:readFailed.
%   Warning: dap:writeFailed  the driver refused a write; if it took none
%            of a program or of the start line, the call returns at once
%            with zeros and sends no pulse table (the board may still run
%            an earlier program that would play it).
%
%   Example:
%     R = StimResp2([0 0 0 0 32767 32767 32767 32767]);   % after about 11.5 s
%     n = sum(R(1:3:end, :) ~= 0)   % events per channel: channels 4 to 7
%                                   % stay silent; on the simulated board
%                                   % [100 40 2 4 0 0 0 0 1]
%
%   See also StimResp.
