% PairOut: reset, "twpls.dap" from the current folder, ten tables a second
% apart, "stop\r".
dapl = fullfile(getenv('DAP_SOURCE_DIR'), 'dapl');
copyfile(fullfile(dapl, 'twpls.dap'), 'twpls.dap');
program = strrep(fileread('twpls.dap'), "\n", "\r");
function ticks = trace_ticks(lines)
  ticks = cellfun(@(l) sscanf(l, '%d', 1), lines);
end

% Without an interrupt: ten whole tables, a wait of 100 ticks after each, the
% stop line last, both channels closed and the caller's SIGINT disposition back.
dapsim('reset');
before = dapsim('sigint');
values = [1.5, -1.5, 40000, 2:600];
out = evalc('PairOut(values)');
assert(isempty(out), out);
writes = sim_trace('write accel1');
assert(trace_event_count(writes), 10);
assert(all(~cellfun(@isempty, strfind(writes, '-> 1204'))), strjoin(writes, "\n"));
table = typecast(int16([1, -1, -25536, 2:600]), 'uint8');
assert(sim_written('accel1'), repmat(table, 1, 10));
assert(char(sim_written('accel0')), ["\rRESET\r" program "stop\r"]);
stop = trace_ticks(sim_trace('write accel0 5 '));
assert(stop >= trace_ticks(writes(1)) + 1000);
assert(strtrim(dapsim('open')), '0');
assert(dapsim('sigint'), before);

% Only the first 602 values count, in storage order.
dapsim('reset');
PairOut(reshape(1:700, 7, 100));
assert(sim_written('accel1')(1:1204), typecast(int16(1:602), 'uint8'));

% Without the program file the tables still go out and the board is stopped.
delete('twpls.dap');
dapsim('reset');
PairOut(zeros(1, 602));
assert(trace_event_count(sim_trace('write accel1')), 10);
assert(char(sim_written('accel0')), ["\rRESET\r" "stop\r"]);
copyfile(fullfile(dapl, 'twpls.dap'), 'twpls.dap');

% A channel that cannot be opened: the message, the disposition put back,
% nothing sent.
for node = {'accel0', 'accel1'}
  dapsim('reset');
  dapsim(['fault missing ' node{1} ' 2']);
  out = evalc('PairOut(zeros(1, 602))');
  assert(out, sprintf('Error opening %s, errno=2\n', node{1}));
  assert(isempty(sim_written('accel0')));
  assert(strtrim(dapsim('open')), '0');
  assert(dapsim('sigint'), before);
end

% Too few values, or not real doubles: refused before any device or handler.
bad = {{}, {zeros(1, 601)}, {complex(zeros(1, 602))}, {single(zeros(1, 602))}};
for k = 1:numel(bad)
  dapsim('reset');
  try
    PairOut(bad{k}{:});
    error('argument %d accepted', k);
  catch err
    assert(~isempty(strfind(err.message, 'usage: PairOut')), err.message);
  end
  assert(isempty(sim_trace('accel')));
  assert(dapsim('sigint'), before);
end
