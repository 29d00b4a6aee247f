% dap_doctor on the simulated board: every check OK on the default board,
% with a trace of opens, requests and closes only; each fault the board can
% be given is named by its own check (and by no other) with advice, and the
% commands meet the same fault; from a shell, its exit status is the rig's
% verdict.
1;
function r = doctor_under(setup)
  dapsim('reset');
  for k = 1:numel(setup)
    dapsim(setup{k});
  end
  [ok, r] = dap_doctor('quiet');
  assert(ok == ~any(strcmp({r.status}, 'PROBLEM')));
end

function expect(r, name, status, pattern)
  c = r(strcmp({r.name}, name));
  assert(strcmp(c.status, status), '%s: %s, not %s: %s', name, c.status, status, c.detail);
  assert(~isempty(regexp(c.detail, pattern, 'once')), '%s: "%s" lacks /%s/', name, c.detail, pattern);
  assert(~isempty(c.advice), '%s: no advice', name);
  others = r(~strcmp({r.name}, name));
  assert(all(strcmp({others.status}, 'OK')), '%s also made %s', name, ...
         strjoin({others(~strcmp({others.status}, 'OK')).name}, ', '));
end

% The default board: all OK, the simulated board named first, the summary
% last; the board only opened, asked and closed, its pending data untouched.
dapsim('queue bin 01 02 03');
dapsim('trace clear');
out = evalc('[ok, r] = dap_doctor;');
assert(ok);
assert(isequal({r.name}, {'host', 'commands', 'accel0', 'accel1', 'dapl', 'loader', 'clock'}));
assert(all(strcmp({r.status}, 'OK')), out);
lines = strsplit(strtrim(out), "\n");
assert(strncmp(lines{1}, 'dap_doctor: rehearsal on the simulated board', 44), lines{1});
assert(strncmp(lines{end}, 'dap_doctor: all 7 checks OK', 27), lines{end});
% It knows every plug-in of the build.
plugins = numel(dir(fullfile(getenv('DAP_BUILD_DIR'), 'mex', '*.mex')));
assert(~isempty(regexp(out, sprintf('OK +commands +%d commands of release %s in ', plugins, ...
                                    dap_version()), 'once')), out);
events = regexp(sim_trace(), '^\d+ (\S+) (\S+)', 'tokens', 'once');
events = cellfun(@(e) [e{1} ' ' e{2}], events, 'UniformOutput', false);
assert(isequal(events, {'open accel0', 'ioctl accel0', 'ioctl accel0', 'ioctl accel0', ...
                        'close accel0', 'open accel1', 'ioctl accel1', 'ioctl accel1', ...
                        'ioctl accel1', 'close accel1'}), strjoin(sim_trace(), "\n"));
assert(strcmp(dapsim('pending accel1'), '3'));
assert(isempty(dapsim('written accel0')) && isempty(dapsim('written accel1')));

% Each fault, its check and what it says.
faults = {
  {'node accel0 missing'},             'accel0', 'PROBLEM', 'does not exist: the DAP driver is not loaded'
  {'node accel1 file'},                'accel1', 'PROBLEM', 'is a file \(-rw-r--r-- .*not the driver''s character device'
  {'node accel0 folder'},              'accel0', 'PROBLEM', 'is a folder'
  {'node accel1 denied'},              'accel1', 'PROBLEM', '\(crw-rw---- root nogroup\): this user may not open it'
  {'fault missing accel0 ENXIO'},      'accel0', 'PROBLEM', 'no driver answers behind it'
  {'fault ioctl accel1 15 fail EIO'},  'accel1', 'PROBLEM', 'does not answer its version request: Input/output error'
  {'fault ioctl accel0 2 fail ENOTTY'}, 'accel0', 'PROBLEM', 'free-space request'
  {'fault missing accel1 EBUSY'},      'accel1', 'WARNING', 'busy'
  {'fault openzero accel0'},           'accel0', 'PROBLEM', 'descriptor 0'
  {'dapl missing'},                    'dapl',   'PROBLEM', 'DAPL directory .* is not there'
  {'dapl missing stimresp2.dap', 'dapl missing spiker.dap'}, ...
                                       'dapl',   'PROBLEM', 'spiker.dap missing \(for SpikerInit\); stimresp2.dap missing \(for StimResp2\)$'
  {'dapl notfile marathonc.dap'},      'dapl',   'PROBLEM', 'marathonc.dap a folder, not a file \(for marathon\(''C''\)\)'
  {'loader missing'},                  'loader', 'PROBLEM', 'comload is not there'
};
for k = 1:rows(faults)
  expect(doctor_under(faults{k, 1}), faults{k, 2}, faults{k, 3}, faults{k, 4});
end
% A warning alone leaves the rig fit.
dapsim('reset');
dapsim('fault missing accel0 EBUSY');
assert(dap_doctor('quiet'));

% The commands meet what the doctor found, faults cleared or not.
dapsim('reset');
dapsim('node accel0 denied');
dapsim('fault clear');
assert(~isempty(strfind(evalc('BrdCmd(''x'')'), 'Error opening accel0, errno=13')));
dapsim('reset');
dapsim('dapl notfile spiker.dap');
lastwarn('');
evalc('SpikerInit');
[message, id] = lastwarn();
assert(strcmp(id, 'dap:programNotFound') && ~isempty(strfind(message, 'not a regular file')), message);
dapsim('reset');
dapsim('loader missing');
s = stat('/usr/src/linux/drivers/dap/comload');
assert(isempty(s));

% The clock measured in real time, as on a rig.
real_clock = doctor_under({'clock real'});
assert(all(strcmp({real_clock.status}, 'OK')));
assert(~isempty(regexp(real_clock(end).detail, '^times\(\) runs at \d+ ticks a second$', 'once')), ...
       real_clock(end).detail);

% Plug-ins from elsewhere ahead of the release's own: one from another
% release, one that does not load.
stale = tempname();
mkdir(stale);
fid = fopen(which('BrdCmd'));
plugin = fread(fid, Inf, 'uint8=>char')';
fclose(fid);
plugin = strrep(plugin, ['dap-build ' dap_version() ' '], 'dap-build 0.9.9 ');
fid = fopen(fullfile(stale, ['BrdCmd.' mexext()]), 'w');
fwrite(fid, plugin);
fclose(fid);
fid = fopen(fullfile(stale, ['BrdClear.' mexext()]), 'w');
fprintf(fid, 'not a plug-in');
fclose(fid);
addpath(stale);
expect(doctor_under({}), 'commands', 'PROBLEM', ...
       ['not one build, found in .*do not load: BrdClear \(.*BrdCmd \(built as 0.9.9 octave-']);
rmpath(stale);
confirm_recursive_rmdir(false);
rmdir(stale, 's');
[~, r] = dap_doctor('quiet');
assert(strcmp(r(2).status, 'OK'), r(2).detail);

% Usage, the doctor's and the board's.
try
  dap_doctor('loud');
  error('accepted');
catch err
  assert(strcmp(err.identifier, 'dap:usage'), err.message);
end
for bad = {'node accel2 missing', 'node accel0 gone', 'dapl notfile', 'dapl missing a/b.dap'}
  try
    dapsim(bad{1});
    error('accepted: %s', bad{1});
  catch err
    assert(strcmp(err.identifier, 'dapsim:command'), err.message);
  end
end

% From a shell: the exit status, and the recorder named.
[status, out] = dap_child('exit(~dap_doctor)');
assert(status == 0, out);
[status, out] = dap_child('exit(~dap_doctor)', {'loader missing'});
assert(status == 1 && ~isempty(strfind(out, 'PROBLEM  loader')), out);
session = [tempname() '.ses'];
recorder = fullfile(getenv('DAP_BUILD_DIR'), 'sim', 'libdaprec.so');
[status, out] = dap_child('exit(~dap_doctor)', {}, ...
                          sprintf('DAPREC_FILE=%s LD_PRELOAD=%s:%s', session, ...
                                  getenv('LD_PRELOAD'), recorder));
assert(status == 0 && ~isempty(strfind(out, ['dap_doctor: recording to ' session])), out);
delete(session);
