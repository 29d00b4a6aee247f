% SwpInit, SwpOpen and SwpClose: which programs reach the board, and when the
% close line is sent.
1;
function text = as_board_sees(file)
  text = strrep(fileread(file), "\n", "\r");
end
function t = tick_of(line)
  t = sscanf(line, '%d', 1);
end

dapl = getenv('DAPSIM_DAPL_DIR');

% SwpInit: both session programs, in order, line ends turned into CR; the
% arguments are ignored.
SwpInit;
expected = [as_board_sees(fullfile(dapl, 'shrtrec.dap')) as_board_sees(fullfile(dapl, 'opstim.dap'))];
assert(char(sim_written('accel0')), expected);
dapsim('reset');
SwpInit(7, 'x');
assert(char(sim_written('accel0')), expected);
% ... and the programs define everything the session addresses.
tasks = dapsim('tasks');
for name = {'shrtreca', 'shrtrecb', 'shrtrecc', 'offseta', 'offsetb', 'recorda', 'recordb'}
  assert(~isempty(strfind(tasks, name{1})), ['not defined: ' name{1}]);
end
assert(str2double(dapsim('pending accel0')) == 0, 'the board objected to a session program');

% A missing first program does not keep the second from the board, silently.
folder = tempname();
mkdir(folder);
copyfile(fullfile(dapl, 'opstim.dap'), folder);
setenv('DAPSIM_DAPL_DIR', folder);
[status, output] = dap_child('SwpInit; printf(''<%s>\n'', dapsim(''written accel0''));');
setenv('DAPSIM_DAPL_DIR', dapl);
rmdir(folder, 's');
assert(status == 0, output);
hex = regexp(output, '<([0-9a-f ]*)>', 'tokens', 'once'){1};
sent = char(hex2dec(reshape(regexprep(hex, '\s', ''), 2, []).')).';
assert(sent, as_board_sees(fullfile(dapl, 'opstim.dap')));
assert(isempty(regexp(output, '[Ee]rror', 'once')), output);

% SwpOpen takes its program from the current folder only.
dapsim('reset');
SwpOpen;
assert(isempty(sim_written('accel0')));
assert(numel(sim_trace('close accel')), 2);
copyfile(fullfile(dapl, 'shrtrecT.dap'), pwd);
dapsim('reset');
out = evalc('SwpOpen(1, 2)');
assert(isempty(out));
assert(char(sim_written('accel0')), as_board_sees('shrtrecT.dap'));
assert(str2double(dapsim('pending accel0')) == 0, 'the board objected to shrtrecT.dap');
delete('shrtrecT.dap');

% SwpClose: the stop line only once the clock has moved 10 ticks past the
% opens, even with the tasks not running.
dapsim('reset');
dapsim('advance 37');
SwpClose;
assert(char(sim_written('accel0')), "stop recorda,recordb\r");
opened = tick_of(sim_trace('open accel1'){1});
written = tick_of(sim_trace('write accel0'){1});
assert(written - opened >= 10, sprintf('stop line %d ticks after the opens', written - opened));
assert(written - opened <= 11);
% A missing text channel: message, no wait, no line.
dapsim('reset');
dapsim('fault missing accel0 2');
out = evalc('SwpClose');
assert(strtrim(out), 'Error opening accel0, errno=2');
assert(isempty(sim_written('accel0')));
assert(str2double(dapsim('clock')) < 5);
