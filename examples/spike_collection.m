% Triggered acquisition: one window of spikes, the waveforms of each electrode.
% Load the spike sorter onto the board, collect one window of spikes (up to
% 100 per electrode) and plot the kept waveforms of each of the eight
% electrodes.
%   scripts/octave-sim examples/spike_collection.m
% Writes spikes_per_channel.png into $DAP_EXAMPLE_OUTPUT, or else build/examples.

output = example_output_folder();
png = fullfile(output, 'spikes_per_channel.png');

SpikerInit;              % spiker.dap from the DAPL directory
s = spiker;              % about 11 s of collection on the board's clock

% 22 elements a record: channel, time, twenty samples. The row is filled from
% the front, so the records end at its last nonzero element.
records = reshape(s, 22, []);
last = find(s, 1, 'last');
records = records(:, 1:ceil(max([last 0]) / 22));
channel = records(1, :);
time = records(2, :);
waves = records(3:22, :);
sample_ms = 0.1;         % the board samples at 10 kHz
t = (0:19) * sample_ms;

printf('%d spikes kept\n', columns(records));
printf('channel  spikes  mean trough  first time\n');
for c = 0:7
  mine = channel == c;
  if any(mine)
    printf('%7d  %6d  %11.0f  %10.0f\n', c, nnz(mine), mean(min(waves(:, mine))), ...
           min(time(mine)));
  else
    printf('%7d  %6d\n', c, 0);
  end
end

cap = 100;               % records spiker keeps per electrode
% One y-range for all eight panels, so that their amplitudes compare.
range = [-500 500];
if ~isempty(waves)
  range = [floor(min(waves(:)) / 500) * 500, ceil(max(waves(:)) / 500) * 500];
end
figure('visible', 'off', 'position', [0 0 1100 600]);
legend_shown = false;    % once, in the first panel with spikes
for c = 0:7
  subplot(2, 4, c + 1);
  mine = waves(:, channel == c);
  if ~isempty(mine)
    single = plot(t, mine, 'color', [0.6 0.6 0.85]);
    hold on;
    average = plot(t, mean(mine, 2), 'k', 'linewidth', 2);
    hold off;
    if ~legend_shown
      legend([single(1) average], {'each spike', 'mean'}, 'location', 'southeast');
      legend_shown = true;
    end
  end
  heading = sprintf('electrode %d: %d spikes', c, columns(mine));
  if columns(mine) >= cap
    heading = [heading ' (cap)'];
  end
  title(heading);
  xlim([t(1) t(end)]);
  ylim(range);
  xlabel('time in record (ms)');
  ylabel('sample (counts)');
end
% One title over the eight panels.
axes('position', [0 0.95 1 0.05], 'visible', 'off');
text(0.5, 0.5, sprintf(['spiker: %d spikes kept in one 11 s window (20 samples of 0.1 ms ' ...
                        'each); at most %d an electrode: (cap) lost its later spikes'], ...
                       columns(records), cap), 'horizontalalignment', 'center', 'fontweight', 'bold');
print('-dpng', png);
printf('waveforms plotted to %s\n', png);
