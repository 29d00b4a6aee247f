%PAIRSEND  Stimulus output: send a table of stimulus values to the running two-pulse tasks
%
%   PairSend(values)
%
%   values  real double matrix; its first column is sent, one entry per
%           row (a row vector sends one entry, an empty matrix none). Each
%           value is truncated toward zero and its low 16 bits are sent as
%           a signed 16-bit count (1.9 gives 1, 32768 gives -32768, 70000
%           gives 4464). A second argument, and any after it, is ignored.
%
%   Writes the entries to the binary channel in order, in chunks that fit
%   the room the driver reports free, whole entries only, and sends again
%   what a write did not take. Returns once every entry is written: as
%   long as the board takes to accept the table. Returns nothing and prints
%   nothing on success. The tasks (PairInit, PairStart) must be running:
%   PairSend sends no program or start line of its own, so when PairInit
%   or PairStart said dap:writeFailed, run them again first.
%
%   If a channel cannot be opened, prints "Error opening accel0, errno=N"
%   (or accel1) and returns; nothing is sent.
%   Ctrl-C prints "Closing binary and text channels to DAP." and "Exiting
%   MEX function.", lets go of both channels, prints how many entries went
%   out ("PairSend: interrupted after N of M entries sent") and passes the
%   interrupt on.
%
%   Errors:
%     dap:usage                    no argument, or not a real double matrix;
%     dap:tooManyOutputs           an output was asked for;
%     dap:outOfMemory              no memory for the table;
%     dap:PairSend:stalled         the board took nothing (or the driver
%                                  could not report its free room) for
%                                  5 s; the message gives how many entries
%                                  went out;
%     dap:PairSend:channelFailed   a write to the binary channel failed.
%   Warning: dap:writeFailed  a write failed (with the reason), before the error.
%
%   Example:
%     PairInit; PairStart;
%     PairSend(round(8000 * sin(2 * pi * (0:599)' / 100)));   % 600 entries,
%                        % played alternately on a0 and a1; returns nothing
%
%   See also PairInit, PairStart, PairOut.
