%BRDCLEAR  Board control: reset the DAP board and empty its text and binary channels
%
%   BrdClear
%
%   Sends the DAPL line RESET ("\rRESET\r") on the text channel, then
%   drains the text channel and then the binary channel: whatever the board
%   still sends is read and thrown away. Each drain ends once the channel
%   has had nothing to read at two queries 0.1 s apart, so a call takes at
%   least 0.2 s, and longer while the board keeps sending. Use it to start
%   from a clean board, or to clear what an interrupted command left behind.
%
%   Takes no argument (any given is ignored) and returns nothing. Prints
%   nothing on success; the board's answers are discarded unseen.
%
%   If a channel cannot be opened, prints "Error opening accel0, errno=N"
%   (or accel1) and returns; nothing reaches the board.
%   Ctrl-C prints "Closing binary and text channels to DAP." and "Exiting
%   MEX function.", lets go of both channels and passes the interrupt on.
%
%   Errors:   dap:tooManyOutputs  an output was asked for.
%   Warnings: dap:drainFailed     a drain ended because reads kept failing;
%             dap:drainBounded    a drain stopped after 10 s of data.
%   Warning: dap:writeFailed  the driver refused a write, or took part of it.
%
%   Example:
%     BrdClear   % resets the board; what it still sent is read and dropped
%
%   See also BrdCmd, BrdLoad, BrdLoadPath.
