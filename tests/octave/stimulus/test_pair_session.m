% PairInit, PairStart and PairSend on the simulated board.
dapl = fullfile(getenv('DAP_SOURCE_DIR'), 'dapl');
function ticks = trace_ticks(lines)
  ticks = cellfun(@(l) sscanf(l, '%d', 1), lines);
end
function assert_untouched()
  % A refused call makes no device operation at all.
  assert(isempty(sim_trace('accel')), strjoin(sim_trace('accel'), "\n"));
end

% PairInit sends the program file as it is, line feeds turned into carriage
% returns, with no reset before it.
dapsim('reset');
PairInit();
expected = strrep(fileread(fullfile(dapl, 'twpls.dap')), "\n", "\r");
assert(char(sim_written('accel0')), expected);
assert(isempty(sim_written('accel1')));
assert(strtrim(dapsim('open')), '0');
% The board understood every line of it (it answers only errors).
assert(strtrim(dapsim('pending accel0')), '0');
assert(dapsim('tasks'), sprintf('twplsa *\ntwplsb *\n'));

% PairStart lets 10 ticks pass between opening the channels and starting.
dapsim('reset');
PairStart();
assert(char(sim_written('accel0')), "start twplsa,twplsb\r");
opened = trace_ticks(sim_trace('open accel1'));
started = trace_ticks(sim_trace('write accel0'));
assert(started - opened >= 10, sprintf('start after %d ticks', started - opened));

% The byte image: truncation toward zero, then the low 16 bits, little-endian.
dapsim('reset');
PairSend([1.9; -1.9; 32767; 32768; 70000]);
assert(sim_written('accel1'), uint8(hex2dec({'01' '00' 'FF' 'FF' 'FF' '7F' '00' '80' '70' '11'}))');
assert(isempty(sim_written('accel0')));

% Only the first column is a table: a row vector is one entry, an empty
% matrix is none (the channels still open and close).
dapsim('reset');
PairSend([1 2 3 4 5]);
assert(sim_written('accel1'), uint8([1 0]));
dapsim('reset');
PairSend([]);
assert(isempty(sim_written('accel1')));
assert(numel(sim_trace('open accel')), 2);
assert(strtrim(dapsim('open')), '0');

% Chunks follow the reported free space and carry whole entries: 7 bytes
% free means 3 entries per write.
dapsim('reset');
dapsim('freespace 7');
PairSend((1:10)');
writes = sim_trace('write accel1');
assert(numel(writes), 4);
assert(~isempty(strfind(writes{1}, 'write accel1 6 ')));
assert(~isempty(strfind(writes{4}, 'write accel1 2 ')));
assert(sim_written('accel1'), uint8(reshape([1:10; zeros(1, 10)], 1, [])));

% A write the driver takes only in part is completed, not skipped.
dapsim('reset');
dapsim('fault shortwrite accel1 3');
PairSend((1:6)' * 257);
assert(sim_written('accel1'), uint8(repmat(1:6, 2, 1)(:))');

% A long table against the running program: the board plays it as pulse
% pairs, first pulse on a0 and second on a1, while free space rises and falls.
dapsim('reset');
PairInit();
PairStart();
values = round(1000 * sin((0:5999)' / 40));
PairSend(values);
assert(numel(sim_trace('write accel1')) > 10);
dapsim('advance 1000');
assert(str2num(dapsim('played a0')), values(1:2:end)');
assert(str2num(dapsim('played a1')), values(2:2:end)');

% When the board takes nothing the call ends with a count instead of hanging,
% and neither a channel nor its guard is left behind.
dapsim('reset');
dapsim('freespace 8 0');
before = dapsim('sigint');
stop = watchdog(60, 'PairSend to a board that takes nothing');
try
  PairSend((1:5)');
  error('PairSend returned although the board took nothing');
catch err
  stop();
  assert(~isempty(strfind(err.message, '4 of 5 entries')), err.message);
end
assert(strtrim(dapsim('open')), '0');
assert(dapsim('sigint'), before);

% A free-space query that fails once (a signal cut it short) is a moment with
% no room; one that keeps failing is a driver with no room, and the same
% stall bound ends it.
dapsim('reset');
dapsim('fault ioctl accel1 2 fail EINTR count 1');
PairSend((1:3)');
assert(numel(sim_written('accel1')), 6);
dapsim('reset');
dapsim('fault ioctl accel1 2 fail 5');
try
  PairSend((1:3)');
  error('PairSend returned after a failed query');
catch err
  assert(strcmp(err.identifier, 'dap:PairSend:stalled'), err.identifier);
  assert(~isempty(strfind(err.message, 'after 0 of 3 entries')), err.message);
end
assert(strtrim(dapsim('open')), '0');

% A channel that cannot be opened: the message, and nothing reaches the board.
dapsim('reset');
dapsim('fault missing accel1 2');
out = evalc('PairSend((1:3)'')');
assert(out, sprintf('Error opening accel1, errno=2\n'));
assert(isempty(sim_written('accel0')));
assert(strtrim(dapsim('open')), '0');

% Arguments that hold fewer values than would be read, or are not real
% doubles, are refused before any device is touched.
bad = {{}, {'abc'}, {[1+2i; 3]}, {sparse([1; 0; 2])}, {zeros(3, 0)}, {int16([1; 2])}};
for k = 1:numel(bad)
  dapsim('reset');
  try
    PairSend(bad{k}{:});
    error('argument %d accepted', k);
  catch err
    assert(~isempty(strfind(err.message, 'usage: PairSend')), err.message);
  end
  assert_untouched();
end
