%BRDLOADPATH  Board control: load a DAPL file given by its path onto the board
%
%   BrdLoadPath(path)
%
%   path  path of the DAPL file, absolute or relative to the current folder
%         (pwd), at most 79 characters; no extension is added. The file is
%         sent on the text channel, in blocks of up to 1024 bytes, with
%         every line feed turned into a carriage return (the board's line
%         end). BrdLoadPath('/home/labrig/matlab/intrfc/dap/shrtrec.dap')
%         sends the same file as BrdLoad('shrtrec').
%         A second argument, and any after it, is ignored.
%
%   Returns nothing. Does not reset the board, drain a channel or wait for
%   an answer. A file that does not exist or cannot be read is not sent: a
%   warning names it and says why (dap:programNotFound), and the call
%   returns normally. Only the text channel is opened. The sample DAPL
%   files are in dapl/ of the source tree, in <prefix>/share/dap/dapl
%   installed, and in dapl/ of the Octave package's folder
%   (pkg('list', 'dap'){1}.dir); on the rig, use the lab's own.
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
%     dap:badArgument     a path longer than 79 characters;
%     dap:tooManyOutputs  an output was asked for.
%   Warning: dap:transferBounded  the transfer stopped after 16 MiB.
%   Warning: dap:programNotFound  a program file could not be opened or read,
%            or is no regular file (a FIFO or device: refused at once).
%   Warning: dap:writeFailed  the driver refused a write, or took part of it.
%
%   Example (twpls.dap, a sample, in the current folder):
%     BrdLoadPath('twpls.dap')    % sends twpls.dap from the current folder;
%                                 % returns nothing
%     BrdLoadPath('nosuch.dap')   % sends nothing; warning: DAPL program
%                                 % "nosuch.dap" could not be opened: No
%                                 % such file or directory
%
%   See also BrdLoad, BrdCmd, BrdClear.
