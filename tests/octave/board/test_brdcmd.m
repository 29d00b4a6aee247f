% BrdCmd: one DAPL line on the text channel, nothing else.

% The line goes out whole with its carriage return; only the text channel.
BrdCmd('start shrtreca');
assert(char(sim_written('accel0')), "start shrtreca\r");
assert(isempty(sim_trace('accel1')));
assert(numel(sim_trace('open accel0')) == 1 && numel(sim_trace('close accel0')) == 1);

% An empty line, a character matrix (column by column), lines that already
% hold line ends: sent as given, no translation.
dapsim('reset');
BrdCmd('');
BrdCmd(['ab'; 'cd']);
BrdCmd("x\r");
BrdCmd("y\nz");
assert(char(sim_written('accel0')), "\racbd\rx\r\ry\nz\r");

% What the board answers stays on the text channel.
dapsim('reset');
BrdCmd('no such command');
assert(str2double(dapsim('pending accel0')) > 0);

% Bad arguments are refused before any device is touched.
dapsim('reset');
bad = {{5}, {}, {{'start x'}}, {struct('a', 1)}};
for k = 1:numel(bad)
  message = '';
  try
    BrdCmd(bad{k}{:});
  catch err
    message = err.message;
  end
  % The refusal must come from BrdCmd itself, not from Octave failing later.
  assert(~isempty(strfind(message, 'BrdCmd')), sprintf('bad argument %d: "%s"', k, message));
end
message = '';
try
  BrdCmd(5);
catch err
  message = err.message;
end
assert(~isempty(strfind(message, 'Could not convert string data.')), message);
assert(isempty(sim_trace()), 'a refused call touched the device');
