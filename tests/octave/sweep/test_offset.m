% SwpOffset: the offset record, what is left in the driver, and the lines.
1;
function n = pending()
  n = str2double(dapsim('pending accel1'));
end

% The record decodes as two signed values; extra bytes stay in the driver.
dapsim('queue bin 10 00 f0 ff 07 00');
r = SwpOffset;
assert(r, [16 -16]);
assert(pending(), 2);
% Start line before the read, stop line after it; offseta is left running.
assert(char(sim_written('accel0')), "start offseta,offsetb\rstop offsetb\r");
events = sim_trace('accel');
first_read = find(~cellfun(@isempty, strfind(events, 'read accel1')), 1);
start_line = find(~cellfun(@isempty, strfind(events, 'start offseta')), 1);
stop_line = find(~cellfun(@isempty, strfind(events, 'stop offsetb')), 1);
assert(start_line < first_read && first_read < stop_line);

% A record that arrives during the wait is taken as soon as it is complete.
dapsim('reset');
dapsim('queue bin 01 00 at 20');
dapsim('queue bin 02 00 at 40');
r = SwpOffset;
assert(r, [1 2]);
t = str2double(dapsim('clock'));
assert(t >= 40 && t < 45, sprintf('returned at tick %d', t));

% No record at all: the window runs out, zeros, and the stop line still goes.
dapsim('reset');
r = SwpOffset;
assert(r, [0 0]);
t = str2double(dapsim('clock'));
assert(t > 1000 && t < 1010, sprintf('returned at tick %d', t));
assert(char(sim_written('accel0')), "start offseta,offsetb\rstop offsetb\r");

% Half a record: the value whose bytes came is kept, the other is 0.
dapsim('reset');
dapsim('queue bin 2c 01 05');
r = SwpOffset;
assert(r, [300 0]);
% A read that delivers less than asked is completed by the next one, and the
% sweep that follows stays in frame.
dapsim('reset');
dapsim('fault shortread accel1 3 count 1');
sweep = mod((0:7999) * 13, 65536) - 32768;
dapsim(['queue bin 10 00 f0 ff ' sprintf('%02x', typecast(int16(sweep), 'uint8'))]);
r = SwpOffset;
assert(r, [16 -16]);
[~, b] = SwpRead(1);
assert(b(:)', sweep);

% The default board: offsetb answers with the amplifier offsets near the
% sweep baseline, once offseta is running.
dapsim('reset');
SwpInit;
r = SwpOffset;
assert(abs(r(1) - (-150)) <= 5 && abs(r(2) - 37) <= 5, mat2str(r));
assert(str2double(dapsim('clock')) < 20);
