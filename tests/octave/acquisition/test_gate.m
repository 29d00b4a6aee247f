% GateInit and GateRead: the word stream, three words to a column.
1;
function hex = words_hex(words)
  w = mod(double(words), 65536);
  hex = sprintf('%02x', [mod(w, 256); floor(w / 256)]);
end
function n = read_sizes()
  reads = sim_trace('read accel1');
  n = cellfun(@(l) str2double(regexp(l, '-> (-?\d+)', 'tokens', 'once'){1}), reads);
end

% 6000 bytes queued: three polls of 2048, 2048 and 1904 bytes, and the call
% returns at once with every element filled in stream order.
dapsim(['queue bin ' words_hex(0:2999)]);
t0 = str2double(dapsim('clock'));
m = GateRead;
assert(size(m), [3 1000]);
assert(m, reshape(0:2999, 3, 1000));
assert(read_sizes(), [2048 2048 1904]);
assert(str2double(dapsim('clock')) - t0 < 10);
assert(isempty(sim_written('accel0')) && isempty(sim_written('accel1')));
assert(isempty(sim_trace('usleep')), 'GateRead drained a channel');

% 7000 bytes: 6000 taken, the other 1000 stay for the next call, which starts
% with them.
dapsim('reset');
dapsim(['queue bin ' words_hex(mod(0:3499, 5000))]);
m = GateRead;
assert(m(end), 2999);
assert(str2double(dapsim('pending accel1')), 1000);
m = GateRead;
assert(m(1:500), 3000:3499);
assert(all(m(501:end) == 0));

% Signed words, one record to a column; nothing more arrives: zeros after the
% whole window.
dapsim('reset');
dapsim(['queue bin ' words_hex([1 2 3 4 5 6 65535 32768 32767])]);
t0 = str2double(dapsim('clock'));
m = GateRead;
assert(m(:, 1:3), [1 4 -1; 2 5 -32768; 3 6 32767]);
assert(all(all(m(:, 4:end) == 0)));
assert(str2double(dapsim('clock')) - t0 > 1000);

% Words cut across polls stay whole: with reads of at most 3 bytes, every word
% is still made of its own two bytes.
dapsim('reset');
dapsim('fault shortread accel1 3');
dapsim(['queue bin ' words_hex([258 772 1286 1800 -2])]);
m = GateRead;
assert(m(1:5), [258 772 1286 1800 -2]);
assert(all(read_sizes() <= 3));

% The words of the default program arrive during the call: peaks above the
% threshold of recthrsh.dap, one excursion number more per column.
dapsim('reset');
GateInit;
assert(char(sim_written('accel0')), ...
       strrep(fileread(fullfile(getenv('DAP_SOURCE_DIR'), 'dapl', 'recthrsh.dap')), "\n", "\r"));
m = GateRead;
filled = find(any(m ~= 0), 1, 'last');
assert(filled > 100, sprintf('only %d records', filled));
assert(all(m(1, 1:filled) >= 300));
assert(m(3, 2:filled) - m(3, 1:filled - 1), ones(1, filled - 1));

% Open failure: a message, nothing sent, no result.
dapsim('reset');
dapsim('fault missing accel0 2');
assert(strtrim(evalc('GateRead;')), 'Error opening accel0, errno=2');
assert(isempty(sim_trace('accel1')));
