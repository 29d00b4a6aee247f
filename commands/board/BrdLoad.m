%BRDLOAD  Board control: load a DAPL file by name from the DAPL directory
%
%   BrdLoad(name)
%
%   name  the file's name without ".dap", at most 44 characters. The file
%         "/home/labrig/matlab/intrfc/dap/<name>.dap" is sent on the text
%         channel, in blocks of up to 1024 bytes, with every line feed
%         turned into a carriage return (the board's line end). The name is
%         used exactly as typed: BrdLoad('shrtrec') sends shrtrec.dap, while
%         BrdLoad('shrtrec.dap') looks for shrtrec.dap.dap.
%         A second argument, and any after it, is ignored.
%
%   Returns nothing. Does not reset the board, drain a channel or wait for
%   an answer. A file that does not exist or cannot be read is not sent: a
%   warning names it and says why (dap:programNotFound), and the call
%   returns normally. Only the text channel is opened. To send a file from
%   elsewhere, use BrdLoadPath.
%
%   If the text channel cannot be opened, prints "Error opening accel0,
%   errno=N" and returns; nothing is sent.
%   Ctrl-C prints "Closing binary and text channels to DAP." and "Exiting
%   MEX function.", lets go of the channel and passes the interrupt on; the
%   part of the file already sent stays sent.
%
%   Errors (raised before the board is touched):
%     dap:usage           no argument, or one that is not text
%                         ("Could not convert string data.");
%     dap:badArgument     a name longer than 44 characters;
%     dap:tooManyOutputs  an output was asked for.
%   Warning: dap:transferBounded  the transfer stopped after 16 MiB.
%   Warning: dap:programNotFound  a program file could not be opened or read,
%            or is no regular file (a FIFO or device: refused at once).
%   Warning: dap:writeFailed  the driver refused a write, or took part of it.
%
%   Example:
%     BrdLoad('shrtrec')   % sends shrtrec.dap from the DAPL directory;
%                          % returns nothing
%     BrdLoad('nosuch')    % sends nothing; warning: DAPL program
%                          % "/home/labrig/matlab/intrfc/dap/nosuch.dap"
%                          % could not be opened: No such file or directory
%
%   See also BrdLoadPath, BrdCmd, BrdClear.
