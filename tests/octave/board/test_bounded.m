% Drains and transfers always end, with a warning a script can catch by its
% identifier, however the driver or the file misbehaves.
stop_bound = watchdog(150, 'a drain or transfer that does not end');
warning('error', 'dap:drainFailed');
dapsim('fault readfail accel1 EIO');
dapsim('queue bin 0102030405060708');
try
  BrdClear;
  error('no warning');
catch err
  assert(strcmp(err.identifier, 'dap:drainFailed'), err.identifier);
end
assert(strcmp(strtrim(dapsim('open')), '0'));
warning('on', 'dap:drainFailed');

% A regular file far larger than any program.
huge = fullfile(pwd, 'huge.dap');
fid = fopen(huge, 'w'); fwrite(fid, zeros(17 * 2^20, 1, 'uint8')); fclose(fid);
dapsim('reset');
lastwarn('');
evalc(sprintf('BrdLoadPath(''%s'')', huge));
[~, id] = lastwarn();
assert(strcmp(id, 'dap:transferBounded'), id);

% A Ctrl-C during a transfer ends it there, whichever way it comes: nothing
% more is read from the file or written anywhere. The bound would end it as
% well, but with its warning; and identical writes fold into one trace line,
% so the writes are counted, not the lines.
for delivery = {'', ' host'}
  [~, out, trace] = dap_child(interrupt_probe(sprintf('BrdLoadPath(''%s'')', huge)), {['sigint op 20' delivery{1}]});
  assert(!isempty(strfind(out, 'Exiting MEX function.')), out);
  assert(isempty(strfind(out, '16 MiB')), out);
  assert(trace_event_count(trace(!cellfun(@isempty, strfind(trace, 'write accel0')))) == 19, ...
         strjoin(trace, "\n"));
end
stop_bound();
