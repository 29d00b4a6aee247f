% SwpStart / SwpStop: the lines each sweep mode sends, and refusal of unusable
% modes before any device is touched.
1;
function lines = lines_sent_by(command, mode)
  dapsim('reset');
  feval(command, mode);
  text = char(sim_written('accel0'));
  lines = strsplit(text(1:end-1), "\r");
end

% Mode 2 (also after truncation) runs the b variant: two lines.
assert(lines_sent_by('SwpStart', 2), {'start shrtreca', 'start shrtrecb'});
assert(lines_sent_by('SwpStart', 2.7), {'start shrtreca', 'start shrtrecb'});
% Every other mode runs the c variant and primes its trigger pipe.
for mode = {0, 1, 3, -2, 1.9, NaN}
  assert(lines_sent_by('SwpStart', mode{1}), ...
         {'start shrtreca', 'start shrtrecc', 'fill trigpipe 2'});
end
% Only the first element of a matrix argument counts.
assert(lines_sent_by('SwpStop', [2 1]), {'stop shrtreca', 'stop shrtrecb'});
assert(lines_sent_by('SwpStop', [1 2]), {'stop shrtreca', 'stop shrtrecc'});
assert(lines_sent_by('SwpStop', 0), {'stop shrtreca', 'stop shrtrecc'});
% Each line reaches the board in one write, text channel opened first and
% closed first; the binary channel is opened but not used.
dapsim('reset');
before = dapsim('sigint');
SwpStart(1);
assert(strcmp(dapsim('sigint'), before));
assert(numel(sim_trace('write accel0')), 3);
assert(isempty(sim_trace('write accel1')));
assert(isempty(sim_trace('read accel1')));
opens = sim_trace(' open ');
assert(numel(opens), 2);
assert(~isempty(strfind(opens{1}, 'accel0')));
closes = sim_trace('close accel');
assert(~isempty(strfind(closes{1}, 'accel0')) && ~isempty(strfind(closes{2}, 'accel1')));

% Unusable modes: a usage error and not a single device operation.
bad = {{}, {'2'}, {[]}, {zeros(0, 3)}, {2 + 1i}, {int8(2)}, {true}, {sparse(2)}, {{2}}};
for command = {'SwpStart', 'SwpStop', 'SwpRead'}
  for k = 1:numel(bad)
    dapsim('reset');
    failed = false;
    try
      feval(command{1}, bad{k}{:});
    catch err
      failed = true;
      assert(strcmp(err.message, [command{1} ': usage: ' command{1} '(mode)']), err.message);
      assert(strcmp(err.identifier, 'dap:usage'), err.identifier);
    end
    assert(failed, sprintf('%s accepted argument %d', command{1}, k));
    assert(isempty(sim_trace('accel')), sprintf('%s touched a device for argument %d', command{1}, k));
  end
end

% A missing node: the message, nothing sent.
dapsim('reset');
dapsim('fault missing accel1 2');
out = evalc('SwpStart(2)');
assert(~isempty(strfind(out, 'Error opening accel1, errno=2')));
assert(isempty(sim_written('accel0')));
