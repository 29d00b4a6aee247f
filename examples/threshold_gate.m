% Triggered acquisition: the threshold gate's excursions at two thresholds.
% Load the threshold gate, read its records (peak, width, number) at the
% program's threshold, raise the threshold and read again; the peaks and
% widths of both runs are plotted to threshold_gate.png. GateRead returns at
% most 1000 records, sooner than its 10 s window when the gate is busy, so
% the peaks are counted per second of each read.
%   scripts/octave-sim examples/threshold_gate.m
% Writes threshold_gate.png into $DAP_EXAMPLE_OUTPUT, or else build/examples.

output = example_output_folder();
png = fullfile(output, 'threshold_gate.png');

thresholds = [300 600];    % counts; "recthrsh.dap" sets THRESH=300
cap = 1000;                % records GateRead returns at most
peaks = cell(1, 2);
widths = cell(1, 2);
seconds = zeros(1, 2);
dapsim('reset');
for k = 1:2
  BrdClear;                % a reset board, nothing queued
  % The board's clock in ticks of 10 ms (on a rig, tic and toc).
  start = str2double(dapsim('clock'));
  GateInit;                % the gate's tasks start as soon as the program is loaded
  BrdCmd(sprintf('let thresh=%d', thresholds(k)));
  m = GateRead;            % 3 x 1000: one column per excursion
  seconds(k) = (str2double(dapsim('clock')) - start) / 100;
  kept = any(m, 1);        % columns the window did not fill stay zero
  peaks{k} = m(1, kept);
  widths{k} = m(2, kept);
  printf(['threshold %d counts: %d excursions in %.1f s, peaks %d to %d counts, ' ...
          'widths %d to %d samples\n'], thresholds(k), nnz(kept), seconds(k), ...
         min(peaks{k}), max(peaks{k}), min(widths{k}), max(widths{k}));
end

colours = [0 0.45 0.74; 0.85 0.33 0.1];
names = cell(1, 2);
for k = 1:2
  names{k} = sprintf('THRESH = %d counts: %d excursions in %.1f s', thresholds(k), ...
                     numel(peaks{k}), seconds(k));
  if numel(peaks{k}) >= cap
    names{k} = [names{k} ' (the cap)'];
  end
end
figure('visible', 'off', 'position', [0 0 900 700]);
subplot(2, 1, 1);
hold on;
% Up to the highest peak, so that no excursion falls off the axis.
edges = 0:50:50 * (floor(max([peaks{:}, 0]) / 50) + 1);
for k = 1:2
  rate = histc(peaks{k}, edges) / seconds(k);
  stairs(edges, rate, 'color', colours(k, :), 'linewidth', 1.5);
end
hold off;
xlim([0 edges(end)]);
xlabel('peak (counts)');
ylabel('excursions a second, per 50 counts');
title(sprintf(['GateRead: peaks of the excursions above each threshold, per second of the read ' ...
               '(at most %d records a read)'], cap));
legend(names, 'location', 'northeast');
subplot(2, 1, 2);
hold on;
for k = 1:2
  plot(peaks{k}, widths{k}, '.', 'color', colours(k, :));
end
hold off;
xlim([0 edges(end)]);
xlabel('peak (counts)');
ylabel('width (samples)');
title('Width against peak: the higher threshold keeps fewer samples of each excursion');
legend(names, 'location', 'northwest');
print('-dpng', png);
printf('plot written to %s\n', png);
