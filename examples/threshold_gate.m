% Triggered acquisition: the threshold gate's excursions at two thresholds.
% Load the threshold gate, read its records (peak, width, number) at the
% program's threshold, raise the threshold and read again; the peaks and
% widths of both runs are plotted to threshold_gate.png.
%   scripts/octave-sim examples/threshold_gate.m
% Writes threshold_gate.png into $DAP_EXAMPLE_OUTPUT, or else build/examples.

output = example_output_folder();
png = fullfile(output, 'threshold_gate.png');

thresholds = [300 600];    % counts; "recthrsh.dap" sets THRESH=300
peaks = cell(1, 2);
widths = cell(1, 2);
dapsim('reset');
for k = 1:2
  BrdClear;                % a reset board, nothing queued
  GateInit;                % the gate's tasks start as soon as the program is loaded
  BrdCmd(sprintf('let thresh=%d', thresholds(k)));
  m = GateRead;            % 3 x 1000: one column per excursion
  kept = any(m, 1);        % columns the window did not fill stay zero
  peaks{k} = m(1, kept);
  widths{k} = m(2, kept);
  printf('threshold %d counts: %d excursions, peaks %d to %d counts, widths %d to %d samples\n', ...
         thresholds(k), nnz(kept), min(peaks{k}), max(peaks{k}), min(widths{k}), max(widths{k}));
end

colours = [0 0.45 0.74; 0.85 0.33 0.1];
names = arrayfun(@(t) sprintf('THRESH = %d counts', t), thresholds, 'UniformOutput', false);
figure('visible', 'off', 'position', [0 0 900 700]);
subplot(2, 1, 1);
hold on;
edges = 0:50:2500;
for k = 1:2
  counts = histc(peaks{k}, edges);
  stairs(edges, counts, 'color', colours(k, :), 'linewidth', 1.5);
end
hold off;
xlim([0 edges(end)]);
xlabel('peak (counts)');
ylabel('excursions per 50 counts');
title('GateRead: peak of each excursion above the threshold');
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
title('Width against peak');
legend(names, 'location', 'southeast');
print('-dpng', png);
printf('plot written to %s\n', png);
