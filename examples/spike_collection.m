% Spike collection: load the spike sorter onto the board, collect one window
% of spikes (up to 100 per electrode) and plot the kept waveforms of each of
% the eight electrodes.
%   LD_PRELOAD=build/sim/libdapsim.so octave-cli --eval "run('examples/spike_collection.m')"
% or: scripts/octave-sim examples/spike_collection.m
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

figure('visible', 'off');
for c = 0:7
  subplot(2, 4, c + 1);
  mine = waves(:, channel == c);
  if ~isempty(mine)
    plot(t, mine, 'color', [0.6 0.6 0.85]);
    hold on;
    plot(t, mean(mine, 2), 'k', 'linewidth', 2);
    hold off;
  end
  title(sprintf('channel %d (%d)', c, columns(mine)));
  xlim([t(1) t(end)]);
  if c >= 4
    xlabel('ms');
  end
  if mod(c, 4) == 0
    ylabel('sample value');
  end
end
print('-dpng', png);
printf('waveforms plotted to %s\n', png);
