%WAVEHALT  Stimulus output: stop the waveform output (and every other running task)
%
%   WaveHalt
%
%   Sends "stop" on the text channel: the DAPL command that stops every
%   running task, the output set up by WaveInit included. Returns at once;
%   the board's answer is not read. A "stop" the driver refuses (said,
%   dap:writeFailed) stops nothing: the output plays on.
%
%   Takes no argument (any given is ignored), returns nothing, prints
%   nothing.
%
%   If a channel cannot be opened, prints "Error opening accel0, errno=N"
%   (or accel1) and returns; nothing is sent.
%   Ctrl-C: no guard lines; once it is seen nothing more is sent, the
%   channels are closed and the host acts on the interrupt.
%
%   Errors:  dap:tooManyOutputs  an output was asked for.
%   Warning: dap:writeFailed  the driver refused a write, or took part of it.
%
%   Example (test4.dap must be in the current folder):
%     WaveInit;
%     WaveData(round(12000 * sin(2 * pi * (0:601) / 301)));   % one table:
%                        % a0 and a1 each play 301 samples of a sine
%     WaveHalt;          % "stop": the output ends
%
%   See also WaveInit, WaveData, WaveOut.
