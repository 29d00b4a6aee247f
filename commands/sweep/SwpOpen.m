%SWPOPEN  Load the sweep (short-record) session program "shrtrecT.dap" from the current folder
%
%   SwpOpen
%
%   Sends "shrtrecT.dap" from the current folder (pwd; not the DAPL
%   directory) on the text channel, line feeds turned into carriage
%   returns: the variant of the sweep session program that an experiment
%   keeps next to its scripts. Change folder first to choose which file is
%   sent. The board is not reset and nothing is started.
%
%   Takes no argument (any given is ignored), returns nothing, prints
%   nothing. A missing file is not sent: a warning names it
%   (dap:programNotFound).
%   The sample "shrtrecT.dap" is in dapl/ of the source tree, in
%   <prefix>/share/dap/dapl installed, and in dapl/ of the Octave package's
%   folder (pkg('list', 'dap'){1}.dir); on the rig, use the lab's own.
%
%   If a channel cannot be opened, prints "Error opening accel0, errno=N"
%   (or accel1) and returns; nothing is sent.
%   Ctrl-C: no guard lines; once it is seen nothing more is sent, the
%   channels are closed and the host acts on the interrupt.
%
%   Errors:  dap:tooManyOutputs  an output was asked for.
%   Warning: dap:transferBounded  the transfer stopped after 16 MiB.
%   Warning: dap:programNotFound  a program file could not be opened or read,
%            or is no regular file (a FIFO or device: refused at once).
%   Warning: dap:writeFailed  the driver refused a write, or took part of it.
%
%   Example (shrtrecT.dap, a sample, in the current folder):
%     SwpOpen;   % sends shrtrecT.dap from the current folder (pwd);
%                % returns nothing
%
%   See also SwpInit, SwpStart, SwpRead, SwpOffset, SwpStop, SwpClose,
%   marathon.
