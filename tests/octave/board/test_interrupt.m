% Ctrl-C during a board command: the guard's two lines, the binary channel let
% go before the text channel, nothing touched afterwards, the interrupt handed
% on to Octave, and no guard or descriptor left behind.

probe = [ ...
  'before = strtrim(dapsim(''sigint''));' ...
  'unwind_protect;' ...
  '  %s;' ...
  '  printf(''NOT INTERRUPTED\\n'');' ...
  'unwind_protect_cleanup;' ...
  '  printf(''sigint kept=%%d open=%%s\\n'', strcmp(before, strtrim(dapsim(''sigint''))), strtrim(dapsim(''open'')));' ...
  'end_unwind_protect;' ...
  'printf(''SCRIPT GOES ON\\n'');'];

% During the drain of BrdClear (the 4th device operation is the first query),
% with the interrupt delivered both ways: to the handler the call installed,
% and as Octave takes a real Ctrl-C (on a thread of its own, running no
% plug-in handler, only raising its flag).
for delivery = {'', ' host'}
  [status, out, trace] = dap_child(sprintf(probe, 'BrdClear'), {['sigint op 4' delivery{1}]});
  lines = strsplit(out, "\n");
  closing = find(strcmp(lines, 'Closing binary and text channels to DAP.'));
  exiting = find(strcmp(lines, 'Exiting MEX function.'));
  assert(numel(closing) == 1 && numel(exiting) == 1 && closing < exiting, out);
  assert(isempty(strfind(out, 'NOT INTERRUPTED')), out);
  assert(isempty(strfind(out, 'SCRIPT GOES ON')), 'Octave did not get the interrupt');
  assert(~isempty(strfind(out, 'sigint kept=1 open=0')), out);
  rel_bin = find(~cellfun(@isempty, strfind(trace, 'release accel1')));
  rel_txt = find(~cellfun(@isempty, strfind(trace, 'release accel0')));
  assert(numel(rel_bin) == 1 && numel(rel_txt) == 1 && rel_bin < rel_txt, strjoin(trace, "\n"));
  after = trace(rel_txt + 1:end);
  assert(~any(~cellfun(@isempty, regexp(after, 'accel[01]'))), ...
         ['device touched after the interrupt: ' strjoin(after, ' | ')]);
end

% A text-only command holds no binary channel: only the text channel is let go.
[~, out, trace] = dap_child(sprintf(probe, 'BrdLoad(''lab'')'), {'sigint op 2'});
assert(~isempty(strfind(out, 'Exiting MEX function.')), out);
assert(isempty(strfind(strjoin(trace, "\n"), 'release accel1')));
assert(numel(strfind(strjoin(trace, "\n"), 'release accel0')) == 1);
assert(~isempty(strfind(out, 'sigint kept=1 open=0')), out);

% A Ctrl-C whose handler runs while the text channel is opening finds nothing
% to let go of: the call must still not write to the channel it then holds.
[~, out, trace] = dap_child(sprintf(probe, 'BrdCmd(''start x'')'), {'sigint op 1'});
assert(~isempty(strfind(out, 'Exiting MEX function.')), out);
assert(isempty(strfind(strjoin(trace, "\n"), 'write accel0')), strjoin(trace, "\n"));
assert(~isempty(strfind(out, 'sigint kept=1 open=0')), out);

% A Ctrl-C after the call has ended reaches Octave only.
[~, out] = dap_child(['BrdCmd(''x''); kill(getpid(), 2); pause(1); printf(''SCRIPT GOES ON\\n'');']);
assert(isempty(strfind(out, 'Closing binary')), out);
