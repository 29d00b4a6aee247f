% Short-record session: four sweeps and the amplifier offsets, plotted.
% Load the session programs, start the sweeps with their leading records, read
% a few, measure the amplifier offsets, stop and close. The sweeps are plotted
% to sweep_session.png.
%
%   scripts/octave-sim examples/sweep_session.m
% Writes sweep_session.png into $DAP_EXAMPLE_OUTPUT, or else build/examples.

output = example_output_folder();
png = fullfile(output, 'sweep_session.png');

sample_ms = 0.05;          % one sample every 50 us
sweeps = 4;

SwpInit;
SwpStart(2);
recorded = zeros(8000, sweeps);
for k = 1:sweeps
  [leading, sweep] = SwpRead(2);
  recorded(:, k) = sweep(:);
  printf('sweep %d: baseline %.1f, peak %.1f counts\n', k, mean(leading(:)), min(sweep(:)));
end
offsets = SwpOffset;
printf('amplifier offsets: %d and %d counts\n', offsets(1), offsets(2));
SwpStop(2);
SwpClose;

plot_sweeps(recorded, offsets(1), sample_ms, sprintf('%d sweeps, stimulus at 20 ms', sweeps), png);
