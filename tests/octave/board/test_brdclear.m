% BrdClear: the reset line, then both channels drained.

% A silent board: 7 bytes, each channel asked twice around a 0.1 s sleep.
t0 = str2double(dapsim('clock'));
BrdClear;
elapsed = str2double(dapsim('clock')) - t0;
assert(char(sim_written('accel0')), "\rRESET\r");
assert(isempty(sim_written('accel1')));
assert(elapsed >= 20, sprintf('BrdClear took only %d ticks', elapsed));
trace = sim_trace();
kinds = regexprep(trace, '^\d+ (\S+ \S+).*$', '$1');
expected = {'open accel0', 'open accel1', 'write accel0', ...
            'ioctl accel0', 'usleep 100000', 'ioctl accel0', ...
            'ioctl accel1', 'usleep 100000', 'ioctl accel1', ...
            'close accel0', 'close accel1'};
assert(kinds, expected);

% BrdClear(1) is BrdClear.
dapsim('reset');
BrdClear(1);
assert(char(sim_written('accel0')), "\rRESET\r");

% Left-over text and records are read and discarded, in drain-sized reads.
dapsim('reset');
dapsim('queue text "leftover answer\r\n"');
dapsim(['queue bin ' repmat('ab', 1, 5000)]);
BrdClear;
assert(strtrim(dapsim('pending accel0')), '0');
assert(strtrim(dapsim('pending accel1')), '0');
reads = sim_trace('read accel1');
assert(numel(reads) == 3);
assert(~isempty(strfind(reads{1}, '2048 -> 2048')) && ~isempty(strfind(reads{3}, '904 -> 904')));
