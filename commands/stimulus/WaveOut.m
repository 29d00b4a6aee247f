%WAVEOUT  Stimulus output: play a 602-entry waveform on outputs a0 and a1 until Enter
%
%   WaveOut(samples)
%
%   samples  real double array of at least 602 elements; the first 602 in
%            storage order make the waveform table. Each is truncated
%            toward zero and its low 16 bits are sent as a signed 16-bit
%            count. The board splits the table entry by entry between a0
%            (samples 1, 3, 5, ...) and a1 (samples 2, 4, 6, ...).
%            A second argument, and any after it, is ignored.
%
%   Prints the table's last two entries as sent (entries 601 and 602),
%   resets the board (RESET, then drains the text and the binary channel),
%   sends its own output definition (procedures elstima and elstimb,
%   playing on a0 and a1) and "START", writes the 1204-byte table to the
%   binary channel and prints "N bytes transferred" (1204, or -1 if the
%   write failed). The output plays until a character arrives on the host's
%   standard input (Octave's or MATLAB's) (press Enter); then "STOP" is sent. With standard input
%   at its end the output stops at once. Returns nothing.
%
%   A line of the output definition, or "START", that the driver refuses
%   whole (it took none of it; said once, dap:writeFailed) leaves the
%   output undefined or unstarted while an earlier program may still run
%   on the board: the call ends there, with no table, no "N bytes
%   transferred" and no "STOP". A line taken in part may have started the
%   output: the call goes on as ever.
%
%   If a channel cannot be opened, prints "Error opening accel0, errno=N"
%   (or accel1) and returns; nothing reaches the board.
%   Ctrl-C while the output plays stops it as Enter would: "STOP" is sent,
%   the channels are closed, and the interrupt then reaches MATLAB. A Ctrl-C
%   before the output has started sends no table: nothing more is sent
%   before the output definition has begun, only "STOP" once it has.
%
%   Errors (raised before the board is touched):
%     dap:usage           no argument, or not a real double array of at
%                         least 602 elements;
%     dap:tooManyOutputs  an output was asked for.
%   Warnings: dap:drainFailed, dap:drainBounded.
%   Warning: dap:writeFailed  the driver refused a write, or took part of it.
%
%   Example:
%     WaveOut(round(12000 * sin(2 * pi * (0:601) / 301)))
%                        % prints "-501 -250" (entries 601 and 602) and
%                        % "1204 bytes transferred"; press Enter to stop
%
%   See also WaveInit, WaveData, WaveHalt, PairOut.
