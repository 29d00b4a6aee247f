% Ctrl-C during a board command: the guard's two lines, the binary channel let
% go before the text channel, nothing touched afterwards, the interrupt handed
% on to Octave, and no guard or descriptor left behind.

% During the drain of BrdClear (the 4th device operation is the first query),
% with the interrupt delivered both ways: to the handler the call installed,
% and as Octave takes a real Ctrl-C (on a thread of its own, running no
% plug-in handler, only raising its flag).
for delivery = {'', ' host'}
  [status, out, trace] = dap_child(interrupt_probe('BrdClear'), {['sigint op 4' delivery{1}]});
  assert_guard_interrupted(out, trace);
  assert(isempty(strfind(out, 'SCRIPT GOES ON')), 'Octave did not get the interrupt');
end

% A text-only command holds no binary channel: only the text channel is let go.
[~, out, trace] = dap_child(interrupt_probe('BrdLoad(''lab'')'), {'sigint op 2'});
assert(~isempty(strfind(out, 'Exiting MEX function.')), out);
assert(isempty(strfind(strjoin(trace, "\n"), 'release accel1')));
assert(numel(strfind(strjoin(trace, "\n"), 'release accel0')) == 1);
assert(~isempty(strfind(out, 'sigint kept=1 open=0')), out);

% A Ctrl-C whose handler runs while the text channel is opening finds nothing
% to let go of: the call must still not write to the channel it then holds.
[~, out, trace] = dap_child(interrupt_probe('BrdCmd(''start x'')'), {'sigint op 1'});
assert(~isempty(strfind(out, 'Exiting MEX function.')), out);
assert(isempty(strfind(strjoin(trace, "\n"), 'write accel0')), strjoin(trace, "\n"));
assert(~isempty(strfind(out, 'sigint kept=1 open=0')), out);

% A Ctrl-C after the call has ended reaches Octave only.
[~, out] = dap_child(['BrdCmd(''x''); kill(getpid(), 2); pause(1); printf(''SCRIPT GOES ON\\n'');']);
assert(isempty(strfind(out, 'Closing binary')), out);
