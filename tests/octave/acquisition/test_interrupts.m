% Ctrl-C during the acquisition runs: the guard's lines, the binary channel let
% go before the text channel, nothing written afterwards, the call over within
% about a tick, and no descriptor or handler left behind.
1;
function check_interrupted(out, trace)
  lines = strsplit(out, "\n");
  closing = find(strcmp(lines, 'Closing binary and text channels to DAP.'));
  exiting = find(strcmp(lines, 'Exiting MEX function.'));
  assert(numel(closing) == 1 && numel(exiting) == 1 && closing < exiting, out);
  assert(isempty(strfind(out, 'NOT INTERRUPTED')), out);
  assert(~isempty(strfind(out, 'sigint kept=1 open=0')), out);
  rel_bin = find(~cellfun(@isempty, strfind(trace, 'release accel1')));
  rel_txt = find(~cellfun(@isempty, strfind(trace, 'release accel0')));
  assert(numel(rel_bin) == 1 && numel(rel_txt) == 1 && rel_bin < rel_txt, strjoin(trace, "\n"));
  after = trace(rel_bin + 1:end);
  assert(~any(~cellfun(@isempty, regexp(after, '(write|read|ioctl) accel[01]'))), ...
         ['device used after the interrupt: ' strjoin(after, ' | ')]);
end
function t = tick_of(trace, what)
  line = trace{find(~cellfun(@isempty, strfind(trace, what)), 1)};
  t = str2double(strtok(line));
end

probe = [ ...
  'before = strtrim(dapsim(''sigint''));' ...
  'unwind_protect;' ...
  '  %s;' ...
  '  printf(''NOT INTERRUPTED\\n'');' ...
  'unwind_protect_cleanup;' ...
  '  printf(''sigint kept=%%d open=%%s\\n'', strcmp(before, strtrim(dapsim(''sigint''))), strtrim(dapsim(''open'')));' ...
  'end_unwind_protect;'];

% TandemRead in the middle of a long pulse train writes no further record.
[~, out, trace] = dap_child(sprintf(probe, 'TandemRead([1e6 0 0 0 0 0 0 0])'), {'sigint op 60'});
check_interrupted(out, trace);

% TandemRead waiting for a reply that never comes: over within a tick or two.
[~, out, trace] = dap_child(sprintf(probe, 'TandemRead(zeros(1, 8))'), {'sigint tick 300'});
check_interrupted(out, trace);
assert(tick_of(trace, 'release accel1') <= 302);

% spiker during its collection window, GateRead during its poll (its lines
% go to standard output).
[~, out, trace] = dap_child(sprintf(probe, 'SpikerInit; spiker'), {'sigint tick 200'});
check_interrupted(out, trace);
assert(tick_of(trace, 'release accel1') <= 202);
[~, out, trace] = dap_child(sprintf(probe, 'GateRead'), {'sigint tick 500'});
check_interrupted(out, trace);
assert(tick_of(trace, 'release accel1') <= 502);

% SmartRead has no guard: nothing is printed and the interrupt is Octave's,
% but the collection still ends within about a tick, the started tasks are
% stopped and both channels closed in order.
[~, out, trace] = dap_child(sprintf(probe, 'SmartRead'), {'sigint tick 200'});
assert(isempty(strfind(out, 'Closing binary')), out);
assert(isempty(strfind(out, 'NOT INTERRUPTED')), out);
assert(~isempty(strfind(out, 'sigint kept=1 open=0')), out);
assert(isempty(strfind(strjoin(trace, "\n"), 'release')));
assert(tick_of(trace, 'stop smartb') <= 202);
close_txt = find(~cellfun(@isempty, strfind(trace, 'close accel0')));
close_bin = find(~cellfun(@isempty, strfind(trace, 'close accel1')));
assert(numel(close_txt) == 1 && numel(close_bin) == 1 && close_txt < close_bin);
[~, out, trace] = dap_child(sprintf(probe, 'SmartRead'), {'sigint tick 5'});
assert(isempty(strfind(out, 'NOT INTERRUPTED')), out);
assert(isempty(strfind(strjoin(trace, "\n"), 'start smarta')));
assert(tick_of(trace, 'stop cleanhouse') <= 7);
