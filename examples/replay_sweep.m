% Replay of a recorded sweep session: its three sweeps, plotted less the offset.
% This is what a lab does with a session recorded on its rig (see
% "Recording a session on the rig" in README.md), to rehearse its analysis
% on real data on any machine.
%
% replay_sweep.ses, beside this script, is a small session recorded with
% the session recorder on the simulated board (not on a rig): SwpInit,
% SwpStart(2), three SwpRead(2), SwpOffset, SwpStop(2), SwpClose. Replayed,
% every read, driver answer and tick comes from the file, so the sweeps and
% offsets are those of the recording, and the commands below must make the
% very calls that were recorded.
%
%   scripts/octave-sim --replay examples/replay_sweep.ses examples/replay_sweep.m
% or: scripts/octave-sim examples/replay_sweep.m   (starts the replay itself)
% Writes replay_sweep.png into $DAP_EXAMPLE_OUTPUT, or else build/examples.

output = example_output_folder();
png = fullfile(output, 'replay_sweep.png');
if strcmp(strtrim(dapsim('replay')), 'off')
  % run() and octave-sim both run a script from its own folder.
  dapsim(sprintf('replay "%s"', fullfile(pwd, 'replay_sweep.ses')));
end

sample_ms = 0.05;          % one sample every 50 us
sweeps = 3;

SwpInit;
SwpStart(2);
recorded = zeros(8000, sweeps);
for k = 1:sweeps
  [leading, sweep] = SwpRead(2);
  recorded(:, k) = sweep(:);
end
offsets = SwpOffset;
SwpStop(2);
SwpClose;
printf('replay: %s\n', strtrim(dapsim('replay')));
printf('amplifier offsets: %d and %d counts\n', offsets(1), offsets(2));

plot_sweeps(recorded, offsets(1), sample_ms, sprintf('Replayed session: %d sweeps, stimulus at 20 ms', sweeps), png);
