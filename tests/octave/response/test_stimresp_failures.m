% StimResp when the board cannot be reached, and Ctrl-C in both runs.

% the loader has run, one line is printed, the zero matrix comes back at
% once and nothing else touches the board
dapsim('fault missing accel0 2');
out = evalc('R = StimResp();');
assert(out, sprintf('Error opening accel0, errno=2\n'));
assert(R, zeros(300, 9));
assert(strtrim(dapsim('loaded')), '1');
assert(numel(sim_trace('comload')), 1);
assert(isempty(sim_trace('accel1')));
assert(isempty(sim_trace('write')));
assert(str2double(dapsim('clock')) < 10);
assert(strtrim(dapsim('open')), '0');

% Ctrl-C in a collection window: the channels are let go, binary first, and
% nothing is sent or polled after that: no further pass begins
function check_interrupted(output, trace, tables)
  assert(!isempty(strfind(output, "Closing binary and text channels to DAP.\nExiting MEX function.")), output);
  released = find(~cellfun(@isempty, regexp(trace, '(release|close) accel[01]')));
  assert(numel(released) >= 2, strjoin(trace, "\n"));
  assert(!isempty(regexp(trace{released(1)}, 'accel1')));
  assert(!isempty(regexp(trace{released(2)}, 'accel0')));
  after = trace(released(2) + 1:end);
  assert(isempty(regexp(strjoin(after, "\n"), '(write|read|ioctl) accel', 'once')), ...
         strjoin(after, "\n"));
  assert(numel(trace(~cellfun(@isempty, regexp(trace, 'write accel1 1004 ')))), tables);
  sigint = str2double(strtok(trace{find(!cellfun(@isempty, strfind(trace, 'sigint')), 1)}));
  last = str2double(strtok(trace{released(2)}));
  assert(last - sigint <= 2, sprintf('ended %d ticks after the interrupt', last - sigint));
end

[status, output, trace] = dap_child('R = StimResp(); disp(''not reached'');', {'sigint tick 1000'});
check_interrupted(output, trace, 1);
assert(isempty(strfind(output, 'not reached')));

[status, output, trace] = dap_child('R = StimResp2(zeros(1, 8)); disp(''not reached'');', ...
                                   {'sigint tick 500'});
check_interrupted(output, trace, 1);
