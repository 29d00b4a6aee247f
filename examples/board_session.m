% Board control: reset the board, load a DAPL file, start and stop tasks.
% Reset the simulated board, load a DAPL file, start and stop its tasks, set a
% variable, and look at what reached the board and how it answered.
% Run it with scripts/octave-sim (or scripts/demo).

dapsim('reset');

BrdClear;                        % reset the board, drain both channels
BrdLoad('lab');                  % dapl/lab.dap, served as the DAPL directory
BrdCmd('start laba,labb');
BrdCmd('let gain=4');
BrdCmd('stop laba');
BrdCmd('stat laba');             % not a DAPL command: the board answers

printf('\nLines that reached the board:\n');
hex = regexprep(dapsim('written accel0'), '\s', '');
written = char(hex2dec(reshape(hex, 2, []).'))';
lines = strsplit(written, "\r");
for k = 1:numel(lines)
  if ~isempty(lines{k})
    printf('  %s\n', lines{k});
  end
end

printf('\nBoard state:\n%s', dapsim('tasks'));
printf('  GAIN = %s\n', strtrim(dapsim('variable GAIN')));
printf('  %s bytes of answer waiting on the text channel\n', strtrim(dapsim('pending accel0')));

BrdClear;                        % reads and discards the answer
printf('  after BrdClear: %s bytes waiting\n', strtrim(dapsim('pending accel0')));

printf('\nDevice operations of the last BrdClear:\n');
trace = strsplit(strtrim(dapsim('trace')), "\n");
last_reset = find(~cellfun(@isempty, strfind(trace, 'RESET')), 1, 'last');
printf('  %s\n', trace{last_reset - 2:end});

