% A text channel that refuses the program or the start line: the board got
% nothing to play a table with (an earlier program may still run there), so
% nothing goes to the binary channel and the call ends at once, said once
% (dap:writeFailed). A line taken in part may have started the board: the
% tables go out as ever.
copyfile(fullfile(getenv('DAP_SOURCE_DIR'), 'dapl', 'twpls.dap'), 'twpls.dap');
calls = {'PairOut(zeros(1, 602))', 'WaveOut(zeros(1, 602))'};
for fault = {'writefail accel0 EIO', 'shortwrite accel0 0'}
  for k = 1:numel(calls)
    dapsim('reset');
    dapsim(['fault ' fault{1}]);
    start = str2double(dapsim('clock'));
    out = evalc(calls{k});
    assert(isempty(sim_trace('write accel1')), '%s under %s: %s', calls{k}, fault{1}, strjoin(sim_trace('write accel1'), "\n"));
    assert(isempty(sim_written('accel1')), calls{k});
    assert(numel(regexp(out, 'warning: \w+: writing ')) == 1, '%s: %s', calls{k}, out);
    assert(str2double(dapsim('clock')) - start < 100, '%s waited under %s', calls{k}, fault{1});
    assert(strtrim(dapsim('open')), '0');
  end
end

% The stimulus-response runs: their programs refused whole, the start line
% taken (an earlier program may still run), no pulse table goes out.
for call = {'StimResp;', 'StimResp2(1:8);'}
  dapsim('reset');
  dapsim('fault writefail accel0 EIO count 3');
  out = evalc(call{1});
  assert(isempty(sim_trace('write accel1')), '%s: %s', call{1}, strjoin(sim_trace('write accel1'), "\n"));
  assert(numel(regexp(out, 'warning: \w+: writing ')) == 1, '%s: %s', call{1}, out);
end

% Every write cut to 3 bytes: part of each line reached the board.
dapsim('reset');
dapsim('fault shortwrite accel0 3');
evalc('PairOut(zeros(1, 602))');
assert(trace_event_count(sim_trace('write accel1')), 10);
dapsim('reset');
dapsim('fault shortwrite accel0 3');
evalc('WaveOut(zeros(1, 602))');
assert(trace_event_count(sim_trace('write accel1')), 1);
