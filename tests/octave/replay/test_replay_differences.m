% Replaying a session against a changed command line or a changed DAPL file
% reports where the host first departs from the recording; lenient goes on,
% strict fails every device call from there on.
1;
function lines = differences(trace)
  lines = trace(~cellfun(@isempty, regexp(trace, 'replay differs', 'once')));
end

sweep = 'SwpInit; SwpStart(%d); [lead, sweep] = SwpRead(2); SwpStop(2); SwpClose;';
% A session file named relative to where the host started stays there,
% whatever folder the script changes to.
[status, output] = replay_child(['cd(tempdir()); ' sprintf(sweep, 2)], 'record', 'rel.ses');
assert(status == 0, output);
session = fullfile(pwd(), 'rel.ses');
assert(exist(session, 'file') == 2);

% A replay that DAPSIM_REPLAY starts is in the DAPSIM_TRACE file too.
tracefile = [tempname() '.trace'];
[~, ~] = system(sprintf('DAPSIM_REPLAY=%s DAPSIM_TRACE=%s /bin/true', session, tracefile));
assert(~isempty(strfind(fileread(tracefile), ['0 replay ' session ' lenient'])));
delete(tracefile);

% SwpStart(1) against a recording of SwpStart(2): the fourth line on the
% text channel names another task.
[status, output, trace] = replay_child(sprintf(sweep, 1), 'replay', session);
found = differences(trace);
assert(~isempty(found), strjoin(trace, "\n"));
assert(~isempty(regexp(found{1}, ['^\d+ replay differs at accel0 write 4 byte 14: ' ...
                                  'expected 0x62 got 0x63 \(recorded "start shrtrecb\\r"'], ...
                       'once')), found{1});

% A DAPL program changed by one character: the first program's write, at
% that character.
folder = tempname();
mkdir(folder);
copyfile(fullfile(getenv('DAPSIM_DAPL_DIR'), '*.dap'), folder);
program = fileread(fullfile(folder, 'shrtrec.dap'));
at = strfind(program, 'PDEF');
at = at(1) + 1;
program(at) = 'X';
fid = fopen(fullfile(folder, 'shrtrec.dap'), 'w');
fwrite(fid, program);
fclose(fid);
[status, output, trace] = replay_child(sprintf(sweep, 2), 'replay', session, ...
                                       ['DAPSIM_DAPL_DIR=' folder]);
found = differences(trace);
assert(~isempty(found), strjoin(trace, "\n"));
assert(~isempty(regexp(found{1}, sprintf('replay differs at accel0 write 1 byte %d: expected 0x44 got 0x58', at), 'once')), found{1});
% Lenient: the rest of the session still plays, the sweep comes back.
assert(numel(found) == 1, strjoin(found, "\n"));
assert(status == 0, output);

% Strict: from the first difference on, every device call fails with EIO.
[status, output, trace] = replay_child(sprintf(sweep, 1), 'replay', session, ...
                                       'DAPSIM_REPLAY_MODE=strict');
stop = find(~cellfun(@isempty, regexp(trace, 'replay stopped', 'once')), 1);
assert(~isempty(stop), strjoin(trace, "\n"));
after = trace(stop + 1:end);
calls = after(~cellfun(@isempty, regexp(after, '(open|read|write|ioctl|close) accel', 'once')));
assert(~isempty(calls));
assert(all(~cellfun(@isempty, regexp(calls, 'errno=5$', 'once'))), strjoin(calls, "\n"));
confirm_recursive_rmdir(false);
rmdir(folder, 's');
delete(session);
