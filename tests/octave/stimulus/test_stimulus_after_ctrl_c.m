% A Ctrl-C before a stimulus has started keeps it from starting, whichever way
% the interrupt comes: PairOut and WaveOut then send nothing more but their
% stop line, and that only once they have begun their program.
copyfile(fullfile(getenv('DAP_SOURCE_DIR'), 'dapl', 'twpls.dap'), 'twpls.dap');
% Device operations 1 and 2 open the channels, 3 sends the reset.
cases = {
  'PairOut', 1, {}
  'PairOut', 2, {}
  'PairOut', 3, {'RESET'}
  'WaveOut', 1, {}
  'WaveOut', 3, {'RESET'}
};
for k = 1:rows(cases)
  for how = {'', ' host'}
    [~, out, trace] = dap_child(sprintf('%s(zeros(1, 602));', cases{k, 1}), ...
                                {sprintf('sigint op %d%s', cases{k, 2}, how{1})});
    writes = trace(~cellfun(@isempty, regexp(trace, 'write accel')));
    what = sprintf('%s, Ctrl-C%s after operation %d:\n%s', cases{k, 1}, how{1}, cases{k, 2}, ...
                   strjoin(trace, "\n"));
    assert(numel(writes) == numel(cases{k, 3}), '%s', what);
    for w = 1:numel(writes)
      assert(~isempty(strfind(writes{w}, cases{k, 3}{w})), '%s', what);
    end
    assert(isempty(strfind(out, 'bytes transferred')), out);
  end
end

% Once the program has begun, only the stop line follows it: no table.
for how = {'', ' host'}
  [~, ~, trace] = dap_child('PairOut(zeros(1, 602));', ...
                            {['rule "start twplsa,twplsb" after 0 sigint' how{1}]});
  assert(isempty(find(~cellfun(@isempty, regexp(trace, 'write accel1')), 1)), '%s', ...
         strjoin(trace, "\n"));
  assert(numel(find(~cellfun(@isempty, strfind(trace, 'write accel0 5 "stop\r"')))) == 1, ...
         '%s', strjoin(trace, "\n"));
end
