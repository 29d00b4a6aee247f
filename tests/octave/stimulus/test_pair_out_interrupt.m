% Ctrl-C during PairOut ends the loop after the current wait; the stop line
% still goes out, the interrupt goes no further and the disposition in force
% before the call is back afterwards.
dapl = fullfile(getenv('DAP_SOURCE_DIR'), 'dapl');
copyfile(fullfile(dapl, 'twpls.dap'), 'twpls.dap');
code = ['before = dapsim(''sigint''); PairOut(zeros(1, 602)); after = dapsim(''sigint'');' ...
        'printf(''same disposition: %d\n'', strcmp(before, after)); printf(''script went on\n'');'];
function check(status, out, trace, interrupts, host)
  at = @(lines) cellfun(@(l) sscanf(l, '%d', 1), lines);
  is = @(pattern) find(~cellfun(@isempty, regexp(trace, pattern)));
  writes = is('write accel1');
  stop = is('write accel0 5 "stop\\r"');
  sigints = is('^\d+ sigint');
  if host
    % Octave keeps the interrupt it took itself and acts on it once the
    % call has returned: the script ends there.
    assert(status ~= 0, out);
    assert(isempty(strfind(out, 'script went on')), out);
  else
    assert(status, 0, out);
    assert(~isempty(strfind(out, 'same disposition: 1')), out);
    assert(~isempty(strfind(out, 'script went on')), out);
  end
  assert(trace_event_count(trace(writes)), 3, strjoin(trace, "\n"));
  assert(trace_event_count(trace(sigints)), interrupts, strjoin(trace, "\n"));
  assert(numel(stop), 1, strjoin(trace, "\n"));
  assert(~isempty(sigints) && max(writes) < min(sigints) && max(sigints) < stop, ...
         strjoin(trace, "\n"));
  % The third wait ran to its end, and no fourth one began.
  took = at(trace(stop)) - at(trace(writes(1)));
  assert(took >= 300 && took < 400, strjoin(trace, "\n"));
end

% The program's last line arrives just before the first table; 250 ticks
% later the loop is in its third wait.
[status, out, trace] = dap_child(code, {'rule "start twplsa,twplsb" after 250 sigint'});
check(status, out, trace, 1, false);

% A second Ctrl-C in the same wait is taken the same way.
[status, out, trace] = dap_child(code, {'rule "start twplsa,twplsb" after 230 sigint', ...
                                        'rule "start twplsa,twplsb" after 270 sigint'});
check(status, out, trace, 2, false);

% A Ctrl-C as Octave takes it (its own flag, no loopstop) ends the loop in the
% same place: the third wait is not cut short and no table follows it.
[status, out, trace] = dap_child(code, {'rule "start twplsa,twplsb" after 250 sigint host'});
check(status, out, trace, 1, true);
