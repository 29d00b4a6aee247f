% Stimulus output: one two-channel table played on outputs a0 and a1.
% Load the two-channel output program, send one 602-entry table, let the
% board play it, stop it, and plot the table's two channels next to what the
% board played on a0 and a1.
%   scripts/octave-sim examples/waveform_playback.m
% Writes waveform_playback.png into $DAP_EXAMPLE_OUTPUT, or else build/examples.

root = fileparts(fileparts(mfilename('fullpath')));
output = example_output_folder();
png = fullfile(output, 'waveform_playback.png');

% The table: entries alternate between the two outputs, so entries 1, 3,
% 5, ... carry a sine for a0 and entries 2, 4, 6, ... a decaying pulse
% train for a1.
n = 301;
t = (0:n - 1) / n;
a0_wave = round(12000 * sin(2 * pi * 3 * t));
a1_wave = round(20000 * exp(-mod(t, 0.25) * 20) .* (mod(t, 0.25) < 0.2));
table = reshape([a0_wave; a1_wave], 1, []);

dapsim('reset');
here = pwd;
% WaveInit takes the output program from the current folder, as in a lab
% folder that keeps its own "test4.dap".
work = tempname();
mkdir(work);
copyfile(fullfile(root, 'dapl', 'test4.dap'), work);
cd(work);
unwind_protect
  WaveInit;               % reset, then the program of test4.dap (it starts itself)
  WaveData(table);        % one table, 1204 bytes
  dapsim('advance 10');   % let the board's output run for 10 ticks
  WaveHalt;               % "stop"
unwind_protect_cleanup
  cd(here);
  confirm_recursive_rmdir(false, 'local');
  rmdir(work, 's');
end_unwind_protect

played_a0 = str2num(dapsim('played a0'));
played_a1 = str2num(dapsim('played a1'));
printf('table sent: %d entries; played: %d on a0, %d on a1\n', numel(table), ...
       numel(played_a0), numel(played_a1));

% The table as the board reads it: entry 2k goes to a0, entry 2k+1 to a1,
% both as output sample k. "time 5" in test4.dap plays a sample every 5 us.
sample_ms = 0.005;
sent_a0 = table(1:2:end);
sent_a1 = table(2:2:end);
t = (0:n - 1) * sample_ms;
xlabel_text = 'time from the start of the table (ms; one output sample every 5 us)';
figure('visible', 'off', 'position', [0 0 800 900]);
subplot(3, 1, 1);
plot(t, sent_a0, 'b', t, sent_a1, 'r');
title(sprintf('Table sent: %d entries, as its two output channels', numel(table)));
xlim([t(1) t(end)]);
ylim([-15000 30000]);      % room above the traces for the legend
xlabel(xlabel_text);
ylabel('value (counts)');
legend('a0 (entries 1, 3, 5, ...)', 'a1 (entries 2, 4, 6, ...)', 'location', 'north', ...
       'orientation', 'horizontal');
subplot(3, 1, 2);
plot((0:numel(played_a0) - 1) * sample_ms, played_a0, 'b');
title(sprintf('Played on a0: %d samples', numel(played_a0)));
xlim([t(1) t(end)]);
xlabel(xlabel_text);
ylabel('value (counts)');
subplot(3, 1, 3);
plot((0:numel(played_a1) - 1) * sample_ms, played_a1, 'r');
title(sprintf('Played on a1: %d samples', numel(played_a1)));
xlim([t(1) t(end)]);
xlabel(xlabel_text);
ylabel('value (counts)');
print('-dpng', png);
printf('plot written to %s\n', png);
