%WAVEDATA  Stimulus output: send one 602-entry waveform table to the WaveInit output
%
%   WaveData(samples)
%
%   samples  real double array of at least 602 elements; the first 602 in
%            storage order make the table (elements after the 602nd are
%            ignored). Each is truncated toward zero and its low 16 bits
%            are sent as a signed 16-bit count (-3.5 gives -3, 70000 gives
%            4464). A second argument, and any after it, is ignored.
%
%   Writes the 1204-byte table to the binary channel in one write and
%   returns at once. Sends nothing on the text channel; the output defined
%   by "test4.dap" (WaveInit) takes the table. Returns nothing and prints
%   nothing, not even a failed write. WaveData sends no program of its
%   own: when WaveInit said dap:writeFailed, run it again first, or the
%   table meets whatever the board still runs.
%
%   If a channel cannot be opened, prints "Error opening accel0, errno=N"
%   (or accel1) and returns; nothing is sent.
%   Ctrl-C: no guard lines; once it is seen nothing more is sent, the
%   channels are closed and the host acts on the interrupt.
%
%   Errors (raised before the board is touched):
%     dap:usage           no argument, or not a real double array of at
%                         least 602 elements;
%     dap:tooManyOutputs  an output was asked for.
%   Warning: dap:writeFailed  the driver refused a write, or took part of it.
%
%   Example (test4.dap must be in the current folder):
%     WaveInit;
%     WaveData(round(12000 * sin(2 * pi * (0:601) / 301)));   % one table:
%                        % a0 and a1 each play 301 samples of a sine
%     WaveHalt;          % "stop": the output ends
%
%   See also WaveInit, WaveHalt, WaveOut.
