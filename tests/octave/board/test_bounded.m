% Drains and transfers always end, with a warning a script can catch by its
% identifier, however the driver or the file misbehaves.
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

dapsim('reset');
lastwarn('');
evalc('BrdLoadPath(''/dev/zero'')');
[~, id] = lastwarn();
assert(strcmp(id, 'dap:transferBounded'), id);
