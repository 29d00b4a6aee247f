% Stimulus-response run: three stimuli, the answers of channels 0 to 7 as a raster.
% The events of channels 0 to 7 are plotted as a raster of times after each
% stimulus.
%   LD_PRELOAD=build/sim/libdapsim.so octave-cli --eval "run('examples/stimresp_raster.m')"
% or: scripts/octave-sim examples/stimresp_raster.m
% Writes stimresp_raster.png into $DAP_EXAMPLE_OUTPUT, or else build/examples.

output = example_output_folder();

R = StimResp();

% Channel 8 reports each stimulus onset; times count 10000 per second.
onsets = R(1:3:end, 9);
onsets = onsets(onsets > 0)';
stimuli = numel(onsets);
printf('%d stimuli\n', stimuli);

figure('visible', 'off');
hold on;
colours = lines(max(stimuli, 1));
% One invisible line a stimulus names its colour in the legend.
key = zeros(1, stimuli);
for s = 1:stimuli
  key(s) = plot(NaN, NaN, 'color', colours(s, :), 'linewidth', 1.5);
end
for c = 0:7
  times = R(1:3:end, c + 1);
  times = times(times > 0)';
  printf('channel %d: %3d events\n', c, numel(times));
  for s = 1:stimuli
    next = Inf;
    if s < stimuli
      next = onsets(s + 1);
    end
    % milliseconds after this stimulus, up to one second
    after = (times(times > onsets(s) & times < next) - onsets(s)) / 10;
    after = after(after <= 1000);
    % one line per stimulus within the channel's row, the first at the bottom
    row = c + (s - (stimuli + 1) / 2) * 0.2;
    if ~isempty(after)
      plot([after; after], [row - 0.08; row + 0.08] * ones(size(after)), ...
           'color', colours(s, :), 'linewidth', 1.5);
    end
  end
end
hold off;
xlim([0 1000]);
ylim([-0.5 7.5]);
set(gca, 'ytick', 0:7);
xlabel('time after stimulus (ms)');
ylabel('channel');
if stimuli > 0
  legend(key, arrayfun(@(s) sprintf('after stimulus %d', s), 1:stimuli, 'UniformOutput', false), ...
         'location', 'northeastoutside');
end
title(sprintf('StimResp: events after each of %d stimuli', stimuli));
png = fullfile(output, 'stimresp_raster.png');
print('-dpng', png);
printf('wrote %s\n', png);
