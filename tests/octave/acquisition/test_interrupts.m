% Ctrl-C during the acquisition runs: the guard's lines, the binary channel let
% go before the text channel, nothing written afterwards, the call over within
% about a tick, and no descriptor or handler left behind.
1;
function t = tick_of(trace, what)
  line = trace{find(~cellfun(@isempty, strfind(trace, what)), 1)};
  t = str2double(strtok(line));
end

% TandemRead in the middle of a long pulse train writes no further record.
[~, out, trace] = dap_child(interrupt_probe('TandemRead([1e6 0 0 0 0 0 0 0])'), {'sigint op 60'});
assert_guard_interrupted(out, trace);

% TandemRead waiting for a reply that never comes: over within a tick or two.
[~, out, trace] = dap_child(interrupt_probe('TandemRead(zeros(1, 8))'), {'sigint tick 300'});
assert_guard_interrupted(out, trace);
assert(tick_of(trace, 'release accel1') <= 302);

% spiker during its collection window, GateRead during its poll (its lines
% go to standard output).
[~, out, trace] = dap_child(interrupt_probe('SpikerInit; spiker'), {'sigint tick 200'});
assert_guard_interrupted(out, trace);
assert(tick_of(trace, 'release accel1') <= 202);
[~, out, trace] = dap_child(interrupt_probe('GateRead'), {'sigint tick 500'});
assert_guard_interrupted(out, trace);
assert(tick_of(trace, 'release accel1') <= 502);

% SmartRead has no guard: nothing is printed and the interrupt is Octave's,
% but the collection still ends within about a tick, nothing more is sent and
% both channels are closed in order.
[~, out, trace] = dap_child(interrupt_probe('SmartRead'), {'sigint tick 200'});
assert(isempty(strfind(out, 'Closing binary')), out);
assert(isempty(strfind(out, 'NOT INTERRUPTED')), out);
assert(~isempty(strfind(out, 'sigint kept=1 open=0')), out);
assert(isempty(strfind(strjoin(trace, "\n"), 'release')));
assert(tick_of(trace, 'close accel0') <= 202);
sigint = find(~cellfun(@isempty, strfind(trace, 'sigint')), 1);
assert(~any(~cellfun(@isempty, regexp(trace(sigint:end), 'write accel'))), strjoin(trace, "\n"));
close_txt = find(~cellfun(@isempty, strfind(trace, 'close accel0')));
close_bin = find(~cellfun(@isempty, strfind(trace, 'close accel1')));
assert(numel(close_txt) == 1 && numel(close_bin) == 1 && close_txt < close_bin);
[~, out, trace] = dap_child(interrupt_probe('SmartRead'), {'sigint tick 5'});
assert(isempty(strfind(out, 'NOT INTERRUPTED')), out);
assert(isempty(strfind(strjoin(trace, "\n"), 'start smarta')));
assert(isempty(strfind(strjoin(trace, "\n"), 'stop cleanhouse')));
assert(tick_of(trace, 'close accel0') <= 7);
% ... nor during its drain (ticks 20 to 40), whichever way the Ctrl-C comes:
% the smart tasks are never started.
for delivery = {'', ' host'}
  [~, out, trace] = dap_child(interrupt_probe('BrdLoad(''smart''); SmartRead'), {['sigint tick 25' delivery{1}]});
  assert(isempty(strfind(out, 'NOT INTERRUPTED')), out);
  drained = find(~cellfun(@isempty, strfind(trace, 'read accel1 18')), 1);
  sigint = find(~cellfun(@isempty, strfind(trace, 'sigint')), 1);
  assert(!isempty(drained) && sigint > drained, strjoin(trace, "\n"));
  assert(isempty(strfind(strjoin(trace, "\n"), 'start smarta')), strjoin(trace, "\n"));
  assert(tick_of(trace, 'close accel0') <= 27);
end
