% BrdLoad and BrdLoadPath: DAPL files to the text channel, line feeds turned
% into carriage returns.
src = getenv('DAP_SOURCE_DIR');
expected = strrep(fileread(fullfile(src, 'dapl', 'lab.dap')), "\n", "\r");

BrdLoad('lab');
assert(char(sim_written('accel0')), expected);
assert(isempty(sim_trace('accel1')), 'the binary channel was touched');

% The same file by its full path in the DAPL directory.
dapsim('reset');
BrdLoadPath('/home/labrig/matlab/intrfc/dap/lab.dap');
assert(char(sim_written('accel0')), expected);

% A bare path is resolved in the current folder.
fid = fopen('twpls.dap', 'w'); fprintf(fid, "start a\nstop a\n"); fclose(fid);
dapsim('reset');
BrdLoadPath('twpls.dap');
assert(char(sim_written('accel0')), "start a\rstop a\r");

% ".dap" is always added: a name that already has it finds no file and sends
% nothing but a warning; the channel is still opened and closed.
dapsim('reset');
out = evalc('BrdLoad(''lab.dap'')');
assert(!isempty(strfind(out, 'lab.dap.dap" could not be opened')), out);
assert(isempty(sim_written('accel0')));
assert(numel(sim_trace('close accel0')) == 1);

% The longest names and paths that fit the 80-byte path are accepted.
dapsim('reset');
BrdLoad(repmat('n', 1, 44));
assert(numel(sim_trace('open accel0')) == 1);
dirname = repmat('d', 1, 60);
mkdir(dirname);
path79 = [dirname '/' repmat('f', 1, 79 - numel(dirname) - 1)];
assert(numel(path79) == 79);
fid = fopen(path79, 'w'); fprintf(fid, "let x=1\n"); fclose(fid);
dapsim('reset');
BrdLoadPath(path79);
assert(char(sim_written('accel0')), "let x=1\r");

% Longer ones, non-text and missing arguments are refused before any device
% is touched.
dapsim('reset');
calls = {@() BrdLoad(repmat('n', 1, 45)), @() BrdLoadPath([path79 'x']), ...
         @() BrdLoad(7), @() BrdLoadPath(7), @() BrdLoad(), @() BrdLoadPath()};
for k = 1:numel(calls)
  refused = false;
  try
    calls{k}();
  catch
    refused = true;
  end
  assert(refused, sprintf('call %d was not refused', k));
end
assert(isempty(sim_trace()), 'a refused call touched the device');

% A path to a FIFO (which no one writes to), a device or a folder is no
% program: refused at once, said like a missing one, nothing sent; the call
% goes on.
fifo = fullfile(tempname(), 'p.dap');
mkdir(fileparts(fifo));
assert(mkfifo(fifo, 600) == 0);
for path = {fifo, '/dev/zero', fileparts(fifo)}
  dapsim('reset');
  lastwarn('');
  stop = watchdog(20, ['BrdLoadPath of ' path{1} ' (opened blocking, or read for ever)']);
  BrdLoadPath(path{1});
  stop();
  [message, id] = lastwarn();
  assert(id, 'dap:programNotFound');
  assert(endsWith(message, sprintf('DAPL program "%s" could not be sent: not a regular file', path{1})), message);
  assert(isempty(sim_written('accel0')));
  assert(numel(sim_trace('close accel0')) == 1);
end
% The same in the DAPL directory, where the simulated board serves its own
% folder: the open does not block there either.
[status, output] = dap_child('BrdLoad(''p''); disp(''returned'')', {}, ...
                             ['DAPSIM_DAPL_DIR=' fileparts(fifo)], 20);
assert(status == 0 && !isempty(strfind(output, ['"/home/labrig/matlab/intrfc/dap/p.dap" ' ...
                                                'could not be sent: not a regular file'])), output);
assert(!isempty(strfind(output, 'returned')), output);
delete(fifo);
rmdir(fileparts(fifo));
