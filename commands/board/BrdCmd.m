%BRDCMD  Board control: send one DAPL command line to the DAP board
%
%   BrdCmd(line)
%
%   line  character array holding one DAPL command without its line end,
%         for example BrdCmd('start shrtreca') or BrdCmd('LET v1=0').
%         A carriage return is added and the text goes to the board in one
%         write on the text channel. Nothing else is translated: a line
%         feed inside the text is sent as it is. A character matrix is
%         sent column by column; BrdCmd('') sends an empty line.
%         A second argument, and any after it, is ignored.
%
%   Returns nothing and takes no time beyond the write. The board's answer
%   (an error line, for example) is not read: it stays on the text channel
%   until a command that drains it, such as BrdClear. Only the text channel
%   is opened.
%
%   If the text channel cannot be opened, prints "Error opening accel0,
%   errno=N" and returns; nothing is sent.
%   Ctrl-C prints "Closing binary and text channels to DAP." and "Exiting
%   MEX function.", lets go of the channel and passes the interrupt on.
%
%   Errors (raised before the board is touched):
%     dap:usage           no argument, or one that is not text
%                         ("Could not convert string data.");
%     dap:tooManyOutputs  an output was asked for.
%   Warning: dap:writeFailed  the driver refused a write, or took part of it.
%
%   Example:
%     BrdCmd('let v1=0')   % "let v1=0" and a carriage return reach the
%                          % board; nothing comes back
%
%   See also BrdClear, BrdLoad, BrdLoadPath.
