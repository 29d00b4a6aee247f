% A child process of Octave that ends during a call (the board loader that
% StimResp runs, anything the user started with popen or system(..., '&'))
% is not a Ctrl-C: guarded and unguarded calls run to their end with their
% full results, no guard lines and the same device traffic. A real Ctrl-C,
% as Octave takes it, still ends the same calls.
1;
% The device events in order, each with how often it came in a row; a child's
% line only splits a run of repeats in the trace.
function events = device_traffic(trace)
  events = {};
  counts = [];
  for k = 1:numel(trace)
    t = regexp(trace{k}, '^\d+ (.*?)(?: x(\d+))?$', 'tokens', 'once');
    if isempty(t) || !isempty(regexp(t{1}, '^(child|system)'))
      continue;
    end
    n = 1;
    if numel(t) > 1 && !isempty(t{2})
      n = str2double(t{2});
    end
    if !isempty(events) && strcmp(events{end}, t{1})
      counts(end) += n;
    else
      events{end + 1} = t{1};
      counts(end + 1) = n;
    end
  end
  events = [events; num2cell(counts)];
end

runs = {
  'StimResp',   'r = StimResp;',   'tick 500'
  'spiker',     'SpikerInit; r = spiker;', 'tick 300'
  'TandemRead', 'TandemInit; TandemStart; r = TandemRead(1:8);', 'op 40'
  'SwpRead',    'SwpInit; SwpStart(2); [l, r] = SwpRead(2);', 'tick 30'
  'SmartRead',  'BrdLoad(''smart''); r = SmartRead;',  'tick 200'
};
for k = 1:rows(runs)
  dapsim('reset');
  out = evalc(runs{k, 2});
  clean = r;
  clean_trace = device_traffic(sim_trace());
  assert(any(clean(:) != 0), runs{k, 1});

  dapsim('reset');
  dapsim(['child ' runs{k, 3}]);
  out = evalc(runs{k, 2});
  assert(isempty(strfind(out, 'Closing binary')), '%s: %s', runs{k, 1}, out);
  assert(!isempty(sim_trace('child')), '%s: no child ended', runs{k, 1});
  assert(isequal(r, clean), '%s: results changed by a child ending', runs{k, 1});
  assert(isequal(device_traffic(sim_trace()), clean_trace), '%s: device traffic changed', runs{k, 1});
  if strcmp(runs{k, 1}, 'StimResp')
    % Its own board loader is a real child of Octave too, ending in the call.
    assert(!isempty(sim_trace('system "/usr/src/linux/drivers/dap/comload')));
  end
end

% The same calls, with a Ctrl-C as Octave 7 takes a real one (its flag only,
% no plug-in handler), still end as the guard ends them; SmartRead, which has
% no guard, prints nothing but uses its channels no more than to close them.
for k = 1:rows(runs)
  [~, out, trace] = dap_child(interrupt_probe(runs{k, 2}), {['sigint ' runs{k, 3} ' host']});
  if !strcmp(runs{k, 1}, 'SmartRead')
    assert_guard_interrupted(out, trace);
    continue;
  end
  assert(isempty(strfind(out, 'Closing binary')) && isempty(strfind(out, 'NOT INTERRUPTED')), out);
  assert(!isempty(strfind(out, 'sigint kept=1 open=0')), out);
  after = trace(find(!cellfun(@isempty, strfind(trace, 'sigint host')), 1):end);
  assert(!any(!cellfun(@isempty, regexp(after, '(open|write|read|ioctl) accel'))), strjoin(after, "\n"));
  assert(str2double(strtok(after{end})) <= 202, strjoin(after, "\n"));
end
