% TandemInit, TandemStart, TandemRead: pulse trains out, one folded reply in
% per channel.
1;
function hex = words_hex(words)
  % 16-bit words as the board's bytes, low byte first.
  w = mod(double(words), 65536);
  hex = sprintf('%02x', [mod(w, 256); floor(w / 256)]);
end
function bytes = record_bytes(words)
  w = mod(double(words), 65536);
  bytes = uint8(reshape([mod(w, 256); floor(w / 256)], 1, []));
end
function expect_refused(call, what)
  try
    call();
    error('TandemRead accepted %s', what);
  catch err
    assert(~isempty(strfind(err.message, 'TandemRead')), err.message);
    assert(isempty(strfind(err.message, 'accepted')), err.message);
  end
end

% The channel code carries the index with its three bits reversed.
codes = double([0 0x4000 0x2000 0x6000 0x1000 0x5000 0x3000 0x7000]);

% The default program: each channel's pulse count comes back as a three-bit
% number, channel by channel.
TandemInit;
TandemStart;
expected_text = [strrep(fileread(fullfile(getenv('DAP_SOURCE_DIR'), 'dapl', 'echread.dap')), ...
                        "\n", "\r") "start echreadb,echreada\r"];
assert(char(sim_written('accel0')), expected_text);
assert(isempty(sim_written('accel1')));
assert(TandemRead([0 1 2 3 4 5 6 7]), [0 1 2 3 4 5 6 7]);
% 2.5 rounds up to 3 pulses; negative, NaN and -Inf send none; the board's
% three-bit counter wraps at 8. A longer argument: the first eight are read.
assert(TandemRead([2.5 -1 NaN -Inf 8 9 0.1 7 5 5]), [3 0 0 0 0 1 1 7]);

% What goes over the wire, in order: pulse records (bit 15 low, high, low),
% then an idle record, then start and stop lines around each reply.
dapsim('reset');
TandemInit;
TandemStart;
before = numel(sim_written('accel0'));
counts = [0 1 0 0 2 0 0 0];
assert(TandemRead(counts), counts);
expected = uint8([]);
for i = 1:8
  for n = 1:counts(i)
    expected = [expected record_bytes([codes(i), codes(i) + 32768, codes(i)])];
  end
  expected = [expected record_bytes(codes(i) * [1 1 1])];
end
assert(sim_written('accel1'), expected);
assert(sim_written('accel1')(7:12), uint8([0 64 0 192 0 64]));   % channel 1's pulse
text = char(sim_written('accel0')(before + 1:end));
assert(text, repmat("start echreadd,echreadc\rstop echreadc\r", 1, 8));
% Each channel's records are all written before its start line.
trace = sim_trace();
starts = find(~cellfun(@isempty, strfind(trace, 'start echreadd')));
writes = find(~cellfun(@isempty, regexp(trace, 'write accel1')));
assert(numel(starts) == 8 && all(writes < starts(end)));

% A read of one byte at a time still gives every word whole.
dapsim('reset');
TandemInit;
TandemStart;
dapsim('fault shortread accel1 1');
assert(TandemRead([1 2 3 4 5 6 7 0]), [1 2 3 4 5 6 7 0]);

% Folding the reply: 4 * first + 2 * second + third, as signed words.
replies = {[1 0 1], 5; [65535 65535 65535], -7; [0 0 300], 300; [32768 0 0], -131072};
for k = 1:rows(replies)
  dapsim('reset');
  dapsim(['rule "start echreadd,echreadc\r" after 1 bin ' words_hex(replies{k, 1})]);
  assert(TandemRead(zeros(1, 8)), replies{k, 2} * ones(1, 8));
end

% Bytes that are not exactly one reply are left in the channel and the
% element stays 0: stray bytes poison every later channel too.
dapsim('reset');
dapsim(['rule "start echreadd,echreadc\r" after 1 bin ' words_hex([1 0 1 7 7 7])]);
assert(TandemRead(ones(1, 8)), zeros(1, 8));
left = str2double(dapsim('pending accel1'));
assert(left >= 7 * 12 && mod(left, 12) == 0, sprintf('%d bytes left', left));

% A reply that misses its channel's window is taken by the next channel.
dapsim('reset');
dapsim(['queue bin ' words_hex([1 1 0]) ' at 1100']);
assert(TandemRead(zeros(1, 8)), [0 6 0 0 0 0 0 0]);

% A board that never answers: zeros after the windows, flushes first.
dapsim('reset');
dapsim(['queue bin ' words_hex([1 0 1])]);    % left over from before: drained
t0 = str2double(dapsim('clock'));
assert(TandemRead(ones(1, 8)), zeros(1, 8));
assert(str2double(dapsim('clock')) - t0 >= 8 * 1000);
assert(numel(sim_trace('usleep')) >= 2);

% Bad arguments are refused before any device is touched; Inf pulses would
% never end, so counts above 1000000 are refused rather than cut short.
dapsim('reset');
expect_refused(@() TandemRead(), 'no argument');
expect_refused(@() TandemRead(1:7), 'seven counts');
expect_refused(@() TandemRead('abcdefgh'), 'text');
expect_refused(@() TandemRead(int16(1:8)), 'an integer array');
expect_refused(@() TandemRead(complex(1:8, 1)), 'complex counts');
expect_refused(@() TandemRead(sparse([1 0 0 0 0 0 0 1])), 'a sparse array');
expect_refused(@() TandemRead({1, 2, 3, 4, 5, 6, 7, 8}), 'a cell');
expect_refused(@() TandemRead([0 0 Inf 0 0 0 0 0]), 'an infinite count');
expect_refused(@() TandemRead([0 0 0 0 0 0 0 1e6 + 1]), 'a count above the limit');
assert(isempty(sim_trace()), 'a refused call touched the device');

% Open failures: nothing reaches the board and no result is set.
dapsim('reset');
dapsim('fault missing accel1 2');
out = evalc('TandemRead(ones(1, 8));');
assert(strtrim(out), 'Error opening accel1, errno=2');
assert(isempty(sim_written('accel0')) && isempty(sim_written('accel1')));
assert(strtrim(dapsim('open')), '0');
