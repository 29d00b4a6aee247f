% The control plug-in and the Octave helpers of the simulated board.

% A reply is a char row; a multi-line reply keeps its line ends.
dapsim('queue bin 01 02');
assert(dapsim('pending accel1'), '2');
assert(ischar(dapsim('clock')) && rows(dapsim('clock')) == 1);
assert(dapsim('trace'), '');

% A refused command is an Octave error carrying the simulator's reason; each
% kind of error has its identifier.
try
  dapsim('queue bin zz');
  error('a bad command was accepted');
catch err
  assert(~isempty(strfind(err.message, 'not hex bytes')), err.message);
  assert(err.identifier, 'dapsim:command');
end
try
  dapsim(['reset' char(0) ' later']);
  error('a command with a zero byte was accepted');
catch err
  assert(~isempty(strfind(err.message, 'NUL')), err.message);
  assert(err.identifier, 'dapsim:badArgument');
end
assert(dapsim('pending accel1'), '2');
try
  dapsim(42);
  error('a numeric command was accepted');
catch err
  assert(~isempty(strfind(err.message, 'usage')), err.message);
  assert(err.identifier, 'dapsim:usage');
end

% Helpers: the trace as a cellstr, what an output played as doubles, what the
% host wrote as bytes.
dapsim('reset');
BrdCmd('pdef loopback');
BrdCmd('end');
BrdCmd('start loopback');
BrdCmd('fill p 5 -7 32767');
assert(dapsim_played('a0'), [5 -7 32767]);
assert(isempty(dapsim_played('a1')) && isequal(size(dapsim_played('a1')), [1 0]));
lines = dapsim_trace('write accel0');
assert(iscellstr(lines) && numel(lines) == 4);
assert(lines{4}, '0 write accel0 18 "fill p 5 -7 32767\r" -> 18');
assert(char(dapsim_written('accel0')(1:5)), "pdef ");
assert(isempty(dapsim_trace('no such event')));

% Without the simulator preloaded the plug-in says so instead of crashing.
cmd = sprintf(['env -u LD_PRELOAD octave-cli --no-history --norc --quiet --eval ' ...
               '"addpath(''%s''); try, dapsim(''clock''); catch e, disp([e.identifier '' '' e.message]); end" 2>&1'], ...
              fullfile(getenv('DAP_BUILD_DIR'), 'simctl'));
[status, out] = system(cmd);
assert(status == 0, out);
assert(~isempty(regexp(out, 'dapsim:notLoaded .*not loaded', 'once')), out);
