% Stimulus-response run: three stimuli, every event of channels 0 to 7 as a raster.
% Every event StimResp returns for channels 0 to 7 is plotted at its time
% after the stimulus before it: the whole 20 s window after each stimulus,
% and its first 500 ms drawn out. StimResp keeps at most 100 events a channel
% for the whole call; a channel that reached the cap is marked, as its later
% events are missing.
%   scripts/octave-sim examples/stimresp_raster.m
% Writes stimresp_raster.png into $DAP_EXAMPLE_OUTPUT, or else build/examples.

output = example_output_folder();

R = StimResp();

cap = 100;                 % events StimResp keeps per channel
counts_per_ms = 10;        % board time counts 10000 a second on the simulated board
% Channel 8 reports each stimulus onset.
onsets = R(1:3:end, 9);
onsets = onsets(onsets > 0)';
stimuli = numel(onsets);
printf('%d stimuli\n', stimuli);

% Each event's time after the stimulus before it (events before the first
% stimulus, if any, are counted but not drawn).
after = cell(8, stimuli);
counted = zeros(1, 8);
for c = 0:7
  times = R(1:3:end, c + 1);
  times = times(times > 0)';
  counted(c + 1) = numel(times);
  drawn = 0;
  for s = 1:stimuli
    next = Inf;
    if s < stimuli
      next = onsets(s + 1);
    end
    after{c + 1, s} = (times(times >= onsets(s) & times < next) - onsets(s)) / counts_per_ms;
    drawn = drawn + numel(after{c + 1, s});
  end
  printf('channel %d: %3d events%s, %d of them after a stimulus\n', c, counted(c + 1), ...
         repmat(' (the cap)', 1, counted(c + 1) >= cap), drawn);
end

labels = arrayfun(@(c) sprintf('%d: %d', c, counted(c + 1)), 0:7, 'UniformOutput', false);
capped = find(counted >= cap);
labels(capped) = strcat(labels(capped), ' (cap)');
colours = lines(max(stimuli, 1));
figure('visible', 'off', 'position', [0 0 900 800]);
panels = {[0 500], 'the first 500 ms after each', 1;
          [0 20000], 'whole 20 s windows', 1000};
for p = 1:2
  subplot(2, 1, p);
  hold on;
  key = zeros(1, stimuli);
  for s = 1:stimuli
    % one row a stimulus within the channel's band, the first at the bottom
    offset = (s - (stimuli + 1) / 2) * 0.25;
    x = [];
    y = [];
    for c = 0:7
      x = [x, after{c + 1, s} / panels{p, 3}];
      y = [y, repmat(c + offset, 1, numel(after{c + 1, s}))];
    end
    % A mark, not a line: the legend then shows the very mark of the plot.
    key(s) = plot([x NaN], [y NaN], 'o', 'color', colours(s, :), ...
                  'markerfacecolor', colours(s, :), 'markersize', 3);
  end
  hold off;
  xlim(panels{p, 1} / panels{p, 3});
  ylim([-0.6 7.6]);
  set(gca, 'ytick', 0:7, 'yticklabel', labels);
  ylabel('channel: events kept');
  if p == 1
    xlabel('time after stimulus (ms)');
    % This panel draws only the events of its first 500 ms: say how many.
    shown = sum(cellfun(@(t) nnz(t < panels{p, 1}(2)), after(:)));
    title(sprintf(['StimResp, channels 0 to 7, %d stimuli: %s, %d of the %d ' ...
                   'events kept (all of them below)'], stimuli, panels{p, 2}, shown, ...
                  sum(counted)));
    if stimuli > 0
      legend(key, arrayfun(@(s) sprintf('after stimulus %d', s), 1:stimuli, ...
                           'UniformOutput', false), 'location', 'northeast');
    end
  else
    xlabel('time after stimulus (s)');
    % The cap, over the plot that shows every event kept.
    title(sprintf(['%s: at most %d events a channel are kept for the whole call, ' ...
                   'so a (cap) channel lost its later events'], panels{p, 2}, cap));
    set(gca, 'position', get(gca, 'position') .* [1 1 1 0.93]);
  end
end
png = fullfile(output, 'stimresp_raster.png');
print('-dpng', png);
printf('wrote %s\n', png);
