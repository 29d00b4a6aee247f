%WAVEINIT  Stimulus output: reset the board and load the waveform program "test4.dap"
%
%   WaveInit
%
%   Resets the board (RESET, then drains the text and the binary channel)
%   and sends "test4.dap" from the current folder (pwd; not the DAPL
%   directory), line feeds turned into carriage returns. The file defines
%   the output that WaveData's tables are played through; WaveInit sends
%   no start line of its own. A missing file is not sent: a warning
%   names it (dap:programNotFound). A program the driver refuses (said,
%   dap:writeFailed) is not on the board: run WaveInit again before
%   WaveData, or its table meets whatever the board still runs.
%   The sample "test4.dap" is in dapl/ of the source tree, in
%   <prefix>/share/dap/dapl installed, and in dapl/ of the Octave package's
%   folder (pkg('list', 'dap'){1}.dir); on the rig, use the lab's own.
%
%   Takes no argument (any given is ignored), returns nothing, prints
%   nothing. A call lasts at least 0.2 s (the drains).
%
%   If a channel cannot be opened, prints "Error opening accel0, errno=N"
%   (or accel1) and returns; nothing reaches the board.
%   Ctrl-C: no guard lines; once it is seen nothing more is sent, the
%   channels are closed and the host acts on the interrupt.
%
%   Errors:   dap:tooManyOutputs  an output was asked for.
%   Warnings: dap:drainFailed, dap:drainBounded, dap:transferBounded,
%             dap:programNotFound.
%   Warning: dap:writeFailed  the driver refused a write, or took part of it.
%
%   Playback: WaveInit, WaveData(samples) for each table, WaveHalt.
%
%   Example (test4.dap must be in the current folder):
%     WaveInit;
%     WaveData(round(12000 * sin(2 * pi * (0:601) / 301)));   % one table:
%                        % a0 and a1 each play 301 samples of a sine
%     WaveHalt;          % "stop": the output ends
%
%   See also WaveData, WaveHalt, WaveOut.
