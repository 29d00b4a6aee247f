%SMARTREAD  Triggered acquisition: collect smart event records of nine channels for 6.1 s
%
%   m = SmartRead
%
%   m  3000 x 9 double: column c+1 holds channel c (0 to 8); the k-th kept
%      record of a channel fills rows 3k-2 to 3k with its time, its 32-bit
%      value (unsigned) and its 16-bit value (signed). The time is the
%      board's own 32-bit time stamp, unsigned (0 to 4294967295; it wraps),
%      in counts of the board program's sample clock: 10000 a second (0.1 ms
%      a count) on the simulated board, whose clock starts at 4026531840
%      (hex F0000000); a rig's rate is its DAPL program's. At most 1000
%      records per channel are kept (later ones, and records of other
%      channel numbers, are read and dropped); unfilled rows stay 0. At the
%      end m(1:1001) is overwritten with 0:1000, which hides channel 0's
%      first 333 records.
%
%   Loads no DAPL program: the tasks cleanhouse, smarta and smartb must be
%   on the board already (for example BrdLoad('smart')). Sends "start
%   cleanhouse", waits 0.1 s, "stop cleanhouse", waits 0.1 s, drains the
%   binary and then the text channel, sends "start smarta,smartb", takes
%   12-byte smart records for 6.1 s (610 ticks of 10 ms), then sends "stop
%   smartb" (smarta keeps running). A call lasts about 6.5 s. Prints
%   nothing. Takes no argument (any given is ignored).
%
%   If a channel cannot be opened, prints "Error opening accel0, errno=N"
%   (or accel1) and returns m all zeros (without the 0:1000).
%   Ctrl-C: no guard lines; the waits and the collection end within a
%   tick, nothing more is sent (a task already started keeps running until
%   BrdClear or its stop line), the channels are closed and the host acts
%   on the interrupt.
%
%   Errors:   dap:tooManyOutputs  more than one output was asked for.
%   Warnings: dap:drainFailed, dap:drainBounded, dap:readFailed.
%   Warning: dap:writeFailed  the driver refused a write; if it took none
%            of the start line, the call returns at once (zeros, ramp).
%
%   Example:
%     BrdLoad('smart'); m = SmartRead;   % 3000 x 9, after about 6.5 s
%     t = m(1:3:end, 2); t = t(t > 0);   % channel 1's times, in counts
%     span = (t(end) - t(1)) / 10000     % seconds, at 10000 counts a second
%                                        % (the simulated board): about 5.9
%
%   See also spiker, BrdLoad.
