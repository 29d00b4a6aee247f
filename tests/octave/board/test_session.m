% The channel session of the board commands: failed opens, order of opens and
% closes, and nothing left behind (guard, descriptors) after any ending.

1;
function n = open_descriptors()
  n = numel(dir('/proc/self/fd')) - 2;
end

function check_nothing_left(before_sigint, before_fds, what)
  assert(strtrim(dapsim('sigint')), before_sigint, [what ': SIGINT disposition changed']);
  assert(strtrim(dapsim('open')), '0', [what ': a device descriptor is still open']);
  assert(open_descriptors(), before_fds, [what ': descriptors leaked']);
end

sigint0 = strtrim(dapsim('sigint'));
fds0 = open_descriptors();

% Normal ending.
BrdClear;
check_nothing_left(sigint0, fds0, 'BrdClear');
BrdCmd('start x');
check_nothing_left(sigint0, fds0, 'BrdCmd');

% A missing text channel: the message with errno 2 and no other device call.
dapsim('reset');
dapsim('fault missing accel0 2');
out = evalc('BrdClear');
assert(out, "Error opening accel0, errno=2\n");
assert(numel(sim_trace()) == 1 && ~isempty(strfind(sim_trace(){1}, 'open accel0')));
out = evalc('BrdCmd(''start x'')');
assert(out, "Error opening accel0, errno=2\n");
check_nothing_left(sigint0, fds0, 'failed text open');

% A missing binary channel: the text channel was opened, nothing is sent on
% it, and it is closed again.
dapsim('reset');
dapsim('fault missing accel1 2');
out = evalc('BrdClear');
assert(out, "Error opening accel1, errno=2\n");
assert(isempty(sim_written('accel0')));
kinds = regexprep(sim_trace(), '^\d+ (\S+ \S+).*$', '$1');
assert(kinds, {'open accel0', 'open accel1', 'close accel0'});
check_nothing_left(sigint0, fds0, 'failed binary open');

% Other errno values are reported as they are.
dapsim('reset');
dapsim('fault missing accel1 13');
assert(evalc('BrdClear'), "Error opening accel1, errno=13\n");

% An open that returns 0 counts as a failure, said with errno 0 (the open
% itself succeeded), never with what an earlier call left.
dapsim('reset');
dapsim('fault openzero accel0');
out = evalc('BrdCmd(''x'')');
assert(out, "Error opening accel0, errno=0\n");
assert(isempty(sim_written('accel0')));
% It is not a channel, but a device opened on descriptor 0 is not left open.
assert(numel(sim_trace('close accel0')) == 1);
check_nothing_left(sigint0, fds0, 'open returning 0');

% Argument errors leave nothing behind either.
dapsim('reset');
try
  BrdLoad(5);
catch
end
try
  BrdLoad(repmat('x', 1, 50));
catch
end
check_nothing_left(sigint0, fds0, 'argument error');
assert(isempty(sim_trace()));

% Board commands in a row: each opens and closes its own channels.
dapsim('reset');
BrdCmd('a');
BrdLoad('lab');
BrdClear;
assert(numel(sim_trace('open accel0')) == 3 && numel(sim_trace('close accel0')) == 3);
check_nothing_left(sigint0, fds0, 'sequence');
