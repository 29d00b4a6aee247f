%PAIROUT  Stimulus output: play a 602-entry stimulus table ten times, once a second
%
%   PairOut(values)
%
%   values  real double array of at least 602 elements; the first 602 in
%           storage order make the waveform table. Each is truncated toward
%           zero and its low 16 bits are sent as a signed 16-bit count (1.5
%           gives 1, 40000 gives -25536). A second argument, and any after
%           it, is ignored.
%
%   Resets the board (RESET, then drains the text and the binary channel),
%   sends "twpls.dap" from the current folder (pwd; not the DAPL
%   directory), writes the 1204-byte table to the binary channel ten times,
%   1 s (100 ticks of 10 ms) apart, and sends "stop" (which ends every
%   running task). A call lasts about 10 s. Returns nothing, prints
%   nothing. A missing "twpls.dap" is not sent: a warning names it
%   (dap:programNotFound). For tables of any
%   length on a running session, see PairSend.
%   The sample "twpls.dap" is in dapl/ of the source tree, in
%   <prefix>/share/dap/dapl installed, and in dapl/ of the Octave package's
%   folder (pkg('list', 'dap'){1}.dir); on the rig, use the lab's own.
%
%   A program the driver refuses whole (it took none of it; said once,
%   dap:writeFailed) never reached the board, which may still run an
%   earlier program that would play the table as a stimulus nobody
%   started: the call ends there, and no table and no "stop" are sent.
%   A program taken in part may have started the board: the tables and
%   "stop" go out as ever.
%
%   If a channel cannot be opened, prints "Error opening accel0, errno=N"
%   (or accel1) and returns; nothing reaches the board.
%   Ctrl-C ends the loop after the current 1-s pass and "stop" is still
%   sent. A Ctrl-C before the program has been sent keeps the stimulus from
%   starting: nothing more is sent, not even "stop"; one after the program
%   but before the first table sends only "stop". Under MATLAB PairOut takes
%   the interrupt itself and returns normally; Octave takes it itself and
%   acts on it once the call has returned.
%
%   Errors (raised before the board is touched):
%     dap:usage           no argument, or not a real double array of at
%                         least 602 elements;
%     dap:tooManyOutputs  an output was asked for.
%   Warnings: dap:drainFailed, dap:drainBounded, dap:transferBounded,
%             dap:programNotFound.
%   Warning: dap:writeFailed  the driver refused a write, or took part of it.
%
%   Example (twpls.dap must be in the current folder):
%     PairOut(round(8000 * sin(2 * pi * (0:601) / 602)));   % the table is
%                        % written ten times over about 10 s, then "stop";
%                        % returns nothing
%
%   See also PairSend, PairInit, PairStart, WaveOut.
