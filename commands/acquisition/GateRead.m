%GATEREAD  Triggered acquisition: collect up to 1000 three-word records from the threshold gate
%
%   m = GateRead
%
%   m  3 x 1000 double: the signed 16-bit words the board's gate tasks
%      send, in arrival order, three to a column, so a stream of 3-word
%      records lands one record per column (what the words mean, for
%      example peak, width and number, is set by the board program).
%      Elements that got no word stay 0.
%
%   Sends no DAPL line and drains nothing: words queued before the call
%   are taken first, and words beyond the 3000 stay for the next call.
%   Collects for up to 10 s (1000 ticks of 10 ms) and returns at once when
%   all 3000 words (6000 bytes) are in. With no data, returns zeros after
%   10 s without a message. Prints nothing. Load the program with GateInit.
%   Takes no argument (any given is ignored).
%
%   If a channel cannot be opened, prints "Error opening accel0, errno=N"
%   (or accel1) and returns without a result.
%   Ctrl-C prints "Closing binary and text channels to DAP." and "Exiting
%   MEX function." on the process's standard output (not the command
%   window), lets go of both channels and passes the interrupt on.
%
%   Errors:  dap:tooManyOutputs  more than one output was asked for.
%   Warning: dap:readFailed  a read of the binary channel failed; what it
%            would have held stays 0.
%
%   Example (the gate's tasks start as the file is loaded):
%     GateInit;
%     BrdCmd('let thresh=600');   % the gate's threshold, in counts
%     m = GateRead;               % 3 x 1000, one column per excursion
%     kept = m(:, any(m, 1));     % the records that came: peak; width; number
%   On the simulated board, at the threshold of 300 that recthrsh.dap sets,
%   the 1000 records are in after about 5.5 s; at 600 about 650 come in the
%   10 s, fewer and narrower (see examples/threshold_gate.m).
%
%   See also GateInit.
