%SPIKER  Triggered acquisition: collect spike records (time stamp and 20-sample waveform) for 11 s
%
%   s = spiker
%
%   s  1 x 17600 double: the kept spike records one after the other, in
%      arrival order, 22 values each; reshape(s, 22, []) puts one record
%      per column. Record n (from 1) is s(22*n-21 : 22*n):
%        channel   0 to 7;
%        time      the board's own 32-bit time stamp, unsigned (0 to
%                  4294967295; it wraps), in counts of the board program's
%                  sample clock: 10000 a second (0.1 ms a count) on the
%                  simulated board, whose clock starts at 4026531840 (hex
%                  F0000000); a rig's rate is its DAPL program's. Seconds
%                  between two spikes: (t2 - t1) / rate;
%        values    20 samples, signed 16-bit counts, unscaled.
%      At most 100 records per channel are kept (later ones, and records of
%      other channel numbers, are read and dropped); the rest stays 0.
%
%   Sends "start cleanhouse", waits 0.1 s, sends "stop cleanhouse", drains
%   the binary channel, waits 0.1 s, sends "start spikera,spikerb", takes
%   46-byte spike records for 11 s (1100 ticks of 10 ms) and waits 0.1 s
%   more. A call lasts about 11.4 s. The spike tasks are left running (no
%   stop line). Prints nothing. Load the program with SpikerInit. Takes no
%   argument (any given is ignored).
%
%   If a channel cannot be opened, prints "Error opening accel0, errno=N"
%   (or accel1) and returns s all zeros.
%   Ctrl-C prints "Closing binary and text channels to DAP." and "Exiting
%   MEX function.", lets go of both channels and passes the interrupt on.
%
%   Errors:   dap:tooManyOutputs  more than one output was asked for.
%   Warnings: dap:drainFailed, dap:drainBounded, dap:readFailed.
%   Warning: dap:writeFailed  the driver refused a write; if it took none
%            of the start line, the call returns at once with zeros.
%
%   Example:
%     SpikerInit; s = spiker;              % after about 11.4 s
%     r = reshape(s, 22, []);
%     r = r(:, any(r, 1));                 % one kept spike a column
%     n = histc(r(1, :), 0:7)              % spikes per channel (at most 100);
%                                          % [40 100 29 100 96 100 6 100] on
%                                          % the simulated board
%     plot((0:19) * 0.1, r(3:22, r(1, :) == 1))   % channel 1's waveforms
%                                   % against ms (0.1 ms a sample, simulated)
%
%   See also SpikerInit, SmartRead.
