% SpikerInit and spiker: spike records kept per channel up to 100, in arrival
% order, 22 elements to a record.
1;
function hex = spike_hex(channel, time, values)
  % One 46-byte spike record: channel, time low word first, twenty values.
  words = [channel, mod(time, 65536), floor(time / 65536), values];
  w = mod(double(words), 65536);
  hex = sprintf('%02x', [mod(w, 256); floor(w / 256)]);
end
function on_start(delay, hex)
  % Board data that arrives `delay` ticks after the spike tasks are started
  % (earlier data would be drained by the call itself).
  dapsim(sprintf('rule "start spikera,spikerb\\r" after %d bin %s', delay, hex));
end

% 150 records of channel 3 and 20 of channel 5, interleaved: 100 and 20 kept,
% in arrival order; the rest of channel 3 is read and dropped.
channels = [repmat([3 3 3 3 3 3 3 5], 1, 20), 3 * ones(1, 10)];
hex = '';
for k = 1:numel(channels)
  hex = [hex spike_hex(channels(k), 1000 + k, [k, -k, zeros(1, 17), 7])];
end
on_start(5, hex);
s = spiker;
assert(size(s), [1 17600]);
records = reshape(s, 22, 800);
kept = find(cumsum(channels == 3) <= 100 | channels == 5);
assert(numel(kept), 120);
assert(records(1, 1:120), channels(kept));
assert(records(2, 1:120), 1000 + kept);
assert(records(3, 1:120), kept);
assert(records(4, 1:120), -kept);
assert(records(22, 1:120), 7 * ones(1, 120));
assert(all(all(records(:, 121:end) == 0)));
assert(str2double(dapsim('pending accel1')), 0);
assert(char(sim_written('accel0')), "start cleanhouse\rstop cleanhouse\rstart spikera,spikerb\r");

% Unsigned times and signed values; records of channels the row has no room
% for are read and dropped without being counted or stored.
dapsim('reset');
on_start(3, [spike_hex(0, 4294967295, [-32768, 32767, 1:18]), ...
             spike_hex(8, 1, ones(1, 20)), spike_hex(-1, 2, ones(1, 20)), ...
             spike_hex(300, 3, ones(1, 20)), spike_hex(7, 2147483648, 20:-1:1)]);
s = spiker;
assert(s(1:22), [0, 4294967295, -32768, 32767, 1:18]);
assert(s(23:44), [7, 2147483648, 20:-1:1]);
assert(all(s(45:end) == 0));
assert(str2double(dapsim('pending accel1')), 0);

% A record that arrives in pieces is taken whole once all of it is there; 45
% bytes at the end of the window are not read and stay for the next command.
dapsim('reset');
whole = spike_hex(2, 77, 1:20);
on_start(2, whole(1:40));
on_start(9, [whole(41:end) whole(1:90)]);
s = spiker;
assert(s(1:22), [2, 77, 1:20]);
assert(all(s(23:end) == 0));
assert(str2double(dapsim('pending accel1')), 45);

% Exactly 100 records of every channel fill the row.
dapsim('reset');
hex = '';
for k = 0:799
  hex = [hex spike_hex(mod(k, 8), k, k * ones(1, 20))];
end
on_start(1, hex);
s = spiker;
assert(reshape(s, 22, 800)(2, :), 0:799);

% The default program: busy channels reach their cap, times need all 32 bits,
% every waveform has its trough, and a second run works the same way (the
% spike tasks left running by the first are quieted by cleanhouse).
dapsim('reset');
SpikerInit;
for run = 1:2
  s = spiker;
  records = reshape(s, 22, 800);
  n = find(any(records ~= 0), 1, 'last');
  per_channel = accumarray(records(1, 1:n)' + 1, 1, [8 1])';
  assert(max(per_channel) == 100 && min(per_channel) > 0, mat2str(per_channel));
  assert(all(records(2, 1:n) > 2^31));
  assert(all(min(records(3:22, 1:n)) < -200));
end

% The same seed gives the same spikes; another seed, others.
runs = cell(1, 3);
for k = 1:3
  dapsim('reset');
  dapsim(sprintf('seed %d', 1 + (k == 3)));
  SpikerInit;
  runs{k} = spiker;
end
assert(isequal(runs{1}, runs{2}) && ~isequal(runs{1}, runs{3}));

% Open failure: the all-zero row is still returned.
dapsim('reset');
dapsim('fault missing accel1 2');
out = evalc('s = spiker;');
assert(strtrim(out), 'Error opening accel1, errno=2');
assert(s, zeros(1, 17600));
assert(isempty(sim_written('accel0')));
