%SMARTREAD  Collect smart event summaries of nine channels for 6.1 s
%
%   m = SmartRead
%
%   m  3000 x 9 double: column c+1 holds channel c (0 to 8); the k-th kept
%      record of a channel fills rows 3k-2 to 3k with its time (unsigned
%      32-bit, as the board sends it), its 32-bit value (unsigned) and its
%      16-bit value (signed). At most 1000 records per channel are kept
%      (later ones, and records of other channel numbers, are read and
%      dropped); unfilled rows stay 0. At the end m(1:1001) is overwritten
%      with 0:1000, which hides channel 0's first 333 records.
%
%   Loads no DAPL program: the tasks cleanhouse, smarta and smartb must be
%   on the board already (for example BrdLoad('smart')). Sends "start
%   cleanhouse", waits 0.1 s, "stop cleanhouse", waits 0.1 s, drains the
%   binary and then the text channel, sends "start smarta,smartb", takes
%   12-byte smart records for 6.1 s (610 ticks of 10 ms), then sends "stop
%   smartb" (smarta keeps running). A call lasts about 6.5 s. Prints
%   nothing.
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
%   See also spiker, BrdLoad.
