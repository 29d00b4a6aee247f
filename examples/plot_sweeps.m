function plot_sweeps(recorded, offset, sample_ms, heading, png)
  % Plots the sweeps of a short-record session, one line each, less the
  % amplifier offset, over the first 60 ms, and writes the plot to png.
  % recorded holds one sweep's 8000 samples a column; heading is the title.
  t = (0:size(recorded, 1) - 1) * sample_ms;
  figure('visible', 'off');
  plot(t, recorded - offset);
  xlim([0 60]);
  xlabel('time from sweep start (ms)');
  ylabel('signal less offset (counts)');
  % The stimulus and the population spike are in the first 60 ms; the
  % title says how much of the sweep that is.
  title(sprintf('%s: the first 60 ms of each %g ms sweep', heading, ...
                size(recorded, 1) * sample_ms));
  legend(arrayfun(@(k) sprintf('sweep %d', k), 1:size(recorded, 2), 'UniformOutput', false));
  print('-dpng', png);
  printf('plot written to %s\n', png);
end
