% The split playback: WaveInit loads "test4.dap" from the current folder,
% WaveData sends one table, WaveHalt stops the output.
dapl = fullfile(getenv('DAP_SOURCE_DIR'), 'dapl');

% Without "test4.dap" WaveInit still resets the board, and says what is missing.
dapsim('reset');
out = evalc('WaveInit()');
assert(!isempty(strfind(out, 'DAPL program "test4.dap" could not be opened')), out);
assert(char(sim_written('accel0')), "\rRESET\r");
assert(numel(sim_trace('usleep')) >= 2);

% The whole playback; the board plays even entries on a0 and odd ones on a1.
copyfile(fullfile(dapl, 'test4.dap'), 'test4.dap');
dapsim('reset');
WaveInit();
assert(char(sim_written('accel0')), ["\rRESET\r" strrep(fileread('test4.dap'), "\n", "\r")]);
assert(strtrim(dapsim('pending accel0')), '0');
assert(dapsim('tasks'), sprintf('elstima *\nelstimb *\n'));
dapsim('trace clear');
samples = round(20000 * sin(2 * pi * (0:999) / 301));
out = evalc('WaveData(samples)');
assert(isempty(out), out);
assert(numel(sim_trace('write accel0')), 0);
writes = sim_trace('write accel1');
assert(numel(writes), 1);
assert(~isempty(strfind(writes{1}, 'write accel1 1204 ')));
assert(sim_written('accel1'), typecast(int16(samples(1:602)), 'uint8'));
dapsim('advance 5');
assert(str2num(dapsim('played a0')), samples(1:2:602));
assert(str2num(dapsim('played a1')), samples(2:2:602));

dapsim('trace clear');
before = sim_written('accel0');
WaveHalt();
assert(sim_written('accel0'), [before uint8("stop\r")]);
assert(isempty(sim_trace('write accel1')));
assert(isempty(strfind(dapsim('tasks'), '*')));

% WaveData refuses arguments it would read past, before opening anything.
bad = {{}, {zeros(601, 1)}, {sparse(zeros(1, 700))}, {int16(zeros(1, 602))}};
for k = 1:numel(bad)
  dapsim('reset');
  try
    WaveData(bad{k}{:});
    error('argument %d accepted', k);
  catch err
    assert(~isempty(strfind(err.message, 'usage: WaveData')), err.message);
  end
  assert(isempty(sim_trace('accel')));
end

% A failed open: the message, and nothing on the other channel.
dapsim('reset');
dapsim('fault missing accel0 2');
assert(evalc('WaveHalt()'), sprintf('Error opening accel0, errno=2\n'));
assert(isempty(sim_trace('open accel1')));
