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

% Ctrl-C: the channels are let go, binary first; the call ends within a
% couple of ticks and nothing more is sent or polled, so no further pass
% begins
function interrupted(call, sigint_tick, tables)
  code = sprintf(['unwind_protect\n  %s;\n  disp(''not reached'');\n' ...
                  'unwind_protect_cleanup\n  printf(''ended at %%s\\n'', dapsim(''clock''));\n' ...
                  'end_unwind_protect\n'], call);
  [~, output, trace] = dap_child(code, {sprintf('sigint tick %d', sigint_tick)});
  whole = strjoin(trace, "\n");
  assert(!isempty(strfind(output, "Closing binary and text channels to DAP.\nExiting MEX function.")), output);
  assert(isempty(strfind(output, 'not reached')), output);
  released = find(!cellfun(@isempty, regexp(trace, 'release accel[01]')));
  assert(numel(released), 2, whole);
  assert(!isempty(strfind(trace{released(1)}, 'accel1')), whole);
  assert(!isempty(strfind(trace{released(2)}, 'accel0')), whole);
  after = strjoin(trace(released(2) + 1:end), "\n");
  assert(isempty(regexp(after, '(write|read|ioctl) accel', 'once')), after);
  assert(numel(trace(!cellfun(@isempty, strfind(trace, 'write accel1 1004 ')))), tables, whole);
  % timed from the handler: a sleep on the virtual clock passes in one step
  handled = str2double(strtok(trace{released(1)}));
  ended = str2double(regexp(output, 'ended at (\d+)', 'tokens', 'once'){1});
  assert(ended - handled <= 2, sprintf('%s ended %d ticks after the interrupt', call, ended - handled));
end

interrupted('R = StimResp()', 1000, 1);      % in pass one
interrupted('R = StimResp()', 3000, 2);      % in pass two
interrupted('R = StimResp()', 5, 0);         % while the board is drained
interrupted('R = StimResp2(zeros(1, 8))', 500, 1);
interrupted('R = StimResp2(zeros(1, 8))', 35, 0);  % between the thresholds and the start

% Ctrl-C while the board loader runs ends the loader, and one that is pending
% as it starts (Octave has not taken it yet) is not thrown away: either way
% the call ends as after any Ctrl-C, before it opens a channel.
for setup = {'loader interrupted', 'sigint loader'}
  [~, output, trace] = dap_child('R = StimResp(); disp(''not reached'');', setup);
  whole = strjoin(trace, "\n");
  if strcmp(setup{1}, 'loader interrupted')
    % (the shell that runs it reports the loader's end as 130)
    assert(!isempty(regexp(whole, 'comload[^\n]* -> (signal 2|130)', 'once')), whole);
  end
  assert(!isempty(strfind(output, "Closing binary and text channels to DAP.\nExiting MEX function.")), output);
  assert(isempty(strfind(output, 'not reached')), output);
  assert(isempty(regexp(whole, '(open|write|read|ioctl) accel', 'once')), whole);
end
