% SmartRead: smart records in one column per channel, up to 1000 each, and the
% ramp 0..1000 over the first 1001 elements.
1;
function hex = smart_hex(channel, time, value32, value16)
  words = [channel, mod(time, 65536), floor(time / 65536), ...
           mod(value32, 65536), floor(value32 / 65536), value16];
  w = mod(double(words), 65536);
  hex = sprintf('%02x', [mod(w, 256); floor(w / 256)]);
end
function on_start(delay, hex)
  dapsim(sprintf('rule "start smarta,smartb\\r" after %d bin %s', delay, hex));
end
ramp = [(0:1000)'; zeros(1999, 1)];

% No records: zeros but for the ramp; the lines in order, smarta left running.
m = SmartRead;
assert(size(m), [3000 9]);
assert(m, [ramp zeros(3000, 8)]);
assert(char(sim_written('accel0')), ...
       "start cleanhouse\rstop cleanhouse\rstart smarta,smartb\rstop smartb\r");

% Fields in place and unsigned: channel 2 in the third column; records of
% channels the matrix has no column for are read and dropped.
dapsim('reset');
on_start(4, [smart_hex(9, 1, 1, 1), smart_hex(2, 500, 70000, -3), smart_hex(-1, 1, 1, 1), ...
             smart_hex(8, 4294967295, 4294967295, 32768), smart_hex(2, 501, 0, 32767)]);
m = SmartRead;
assert(m(1:6, 3), [500; 70000; -3; 501; 0; 32767]);
assert(m(1:3, 9), [4294967295; 4294967295; -32768]);
assert(nnz(m(:, [2 4:8])), 0);
assert(nnz(m(:, 3)), 5);
assert(nnz(m(:, 9)), 3);
assert(str2double(dapsim('pending accel1')), 0);

% Channel 0 under the ramp: records 0-332 hidden, of record 333 only value16,
% later records as read. Channel 8 keeps 1000 of its 1200 records.
dapsim('reset');
hex = '';
for k = 0:339
  hex = [hex smart_hex(0, 10 * k, k, -k)];
end
for k = 0:1199
  hex = [hex smart_hex(8, k, 2 * k, 1)];
end
on_start(2, hex);
m = SmartRead;
assert(m(1:1001, 1), (0:1000)');
assert(m(1002:1020, 1), [-333; reshape([10 * (334:339); 334:339; -(334:339)], [], 1)]);
assert(m(1:3:end, 9), (0:999)');
assert(m(2:3:end, 9), 2 * (0:999)');
assert(str2double(dapsim('pending accel1')), 0);

% The default program: every column gets records, the busiest channel stops at
% its cap, and stale bytes from cleanhouse are drained before collection.
dapsim('reset');
BrdLoad('smart');
m = SmartRead;
counts = arrayfun(@(c) nnz(m(1:3:end, c)), 1:9);
assert(all(counts(2:9) > 10), mat2str(counts));
assert(counts(9), 1000);
assert(all(m(1:3:3 * counts(9), 9) > 2^31));
assert(all(m(3:3:3 * counts(9), 9) < 0));
assert(numel(sim_trace('usleep')) >= 2);

% Open failure: all zeros, without the ramp.
dapsim('reset');
dapsim('fault missing accel0 2');
out = evalc('m = SmartRead;');
assert(strtrim(out), 'Error opening accel0, errno=2');
assert(m, zeros(3000, 9));
