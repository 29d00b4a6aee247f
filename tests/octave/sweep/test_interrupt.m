% Ctrl-C during the long waits of SwpRead, SwpOffset and marathon: the guard's
% lines, and the call ends within about a tick without touching the
% channels again.
1;
function t = tick_of(line)
  t = sscanf(line, '%d', 1);
end
% Checks a child's trace after a SIGINT at tick `at`: no device operation
% after it, and both channels let go, binary first.
function check_interrupted(trace, at, output)
  k = find(~cellfun(@isempty, regexp(trace, '^\d+ sigint')), 1);
  assert(~isempty(k), 'no SIGINT in the trace');
  assert(tick_of(trace{k}) <= at + 1);
  after = trace(k + 1:end);
  busy = after(~cellfun(@isempty, regexp(after, '(read|write|ioctl) accel')));
  assert(isempty(busy), ['channel used after Ctrl-C: ' strjoin(busy, ' | ')]);
  gone = after(~cellfun(@isempty, regexp(after, '(release|close) accel')));
  assert(numel(gone) >= 2 && ~isempty(strfind(gone{1}, 'accel1')), strjoin(after, ' | '));
  assert(tick_of(after{end}) <= at + 2, sprintf('still running at tick %d', tick_of(after{end})));
  closing = strfind(output, "Closing binary and text channels to DAP.\n");
  exiting = strfind(output, "Exiting MEX function.\n");
  assert(numel(closing) == 1 && numel(exiting) == 1 && closing < exiting, output);
end

% SwpRead in mode 2 with nothing arriving would wait two windows of 1000
% ticks. Its lines go to standard output: evalc, which would swallow lines
% meant for the command window, does not catch them.
% Delivered both ways: to the guard's handler, and as Octave takes a real
% Ctrl-C (its own flag; the call itself lets go of the channels).
for delivery = {'', ' host'}
  [~, output, trace] = dap_child('out = evalc(''[a, b] = SwpRead(2);'');', ...
                                 {['sigint tick 300' delivery{1}]});
  check_interrupted(trace, 300, output);
end

% SwpOffset in its wait: no stop line goes out afterwards.
[~, output, trace] = dap_child('out = evalc(''r = SwpOffset;'');', {'sigint tick 200'});
check_interrupted(trace, 200, output);
assert(isempty(regexp(strjoin(trace, "\n"), 'write accel0 [0-9]+ "stop offsetb', 'once')));

% marathon during the v1 pulse and during collection on the default board:
% the run stops where it is and sends no stop line.
for at = [150 800]
  [~, output, trace] = dap_child('d = marathon(''e'');', {sprintf('sigint tick %d', at)});
  check_interrupted(trace, at, output);
  assert(isempty(regexp(strjoin(trace, "\n"), 'write accel0 [0-9]+ "stop recorda', 'once')));
  if at == 150
    assert(isempty(regexp(strjoin(trace, "\n"), 'write accel0 [0-9]+ "let v1=0', 'once')));
  end
end
