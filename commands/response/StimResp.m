%STIMRESP  Stimulus-response run: three stimulus passes, events per channel
%
%   R = StimResp
%
%   R  300 x 9 double, the event matrix: column c+1 holds channel c (0 to 8);
%      the k-th event of a channel fills rows 3k-2 to 3k with its time (the
%      board's own 32-bit time stamp, unsigned, 0 to 4294967295, in counts
%      of the board program's event clock: on the simulated board 10000 a
%      second, 0.1 ms a count, counted from the start of the event tasks; a
%      rig's rate is its DAPL program's), value1 and value2 (signed 16-bit
%      counts). At most 100 events per channel for the whole call, in
%      arrival order (later ones, and records of other channel numbers, are
%      read and dropped); unfilled rows stay 0.
%
%   Runs the board loader "/usr/src/linux/drivers/dap/comload
%   /dosc/labrig/dap/getspike.bin -s1000" (its outcome is not checked),
%   resets the board (RESET, then drains the text and the binary channel),
%   sends "opstim2.dap" and "stimresp.dap" from the DAPL directory
%   "/home/labrig/matlab/intrfc/dap/", waits 0.1 s, sends "start
%   stimrespa,stimrespb,ledstim2a,ledstim2b", then three times writes the
%   1004-byte stimulus pulse table and collects 10-byte event records for
%   20 s (2000 ticks of 10 ms), and waits 0.1 s more. A call lasts a little
%   over 60 s plus the loader's time. The tasks are left running (no stop
%   line). Takes no argument (any given is ignored); prints nothing.
%
%   If a channel cannot be opened (the loader has run by then), prints
%   "Error opening accel0, errno=N" (or accel1) and returns R all zeros.
%   Ctrl-C prints "Closing binary and text channels to DAP." and "Exiting
%   MEX function.", lets go of both channels and passes the interrupt on;
%   a Ctrl-C while the loader runs (it ends the loader), or one pending as
%   it starts, does the same once the loader is over.
%
%   Errors:   dap:tooManyOutputs  more than one output was asked for.
%   Warnings: dap:drainFailed, dap:drainBounded, dap:transferBounded,
%             dap:programNotFound, dap:readFailed.
%   Warning: dap:writeFailed  the driver refused a write; if it took none
%            of a program or of the start line, the call returns at once
%            with zeros and sends no pulse table (the board may still run
%            an earlier program that would play it).
%
%   Example:
%     R = StimResp;                      % 300 x 9, after a little over 60 s
%     onsets = R(1:3:end, 9); onsets = onsets(onsets > 0)'
%                          % the three stimuli; on the simulated board
%                          % [100 200100 400100], 20 s apart
%     n = sum(R(1:3:end, 1:8) ~= 0)      % events kept per channel, at most 100
%
%   See also StimResp2.
