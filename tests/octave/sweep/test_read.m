% SwpRead: where each byte of the stream lands, what a closed window leaves,
% and what stays in the driver for the next record.
1;
function queue_samples(samples, at)
  hex = sprintf('%02x', typecast(int16(samples(:)'), 'uint8'));
  if nargin < 2
    dapsim(['queue bin ' hex]);
  else
    dapsim(sprintf('queue bin %s at %d', hex, at));
  end
end
function n = pending()
  n = str2double(dapsim('pending accel1'));
end

% Mode 2 with a leading record, a sweep and more waiting: exact fill, and the
% later bytes stay in the driver.
leading = mod((0:1341) * 7, 60000) - 30000;
sweep = mod((0:7999) * 13, 65536) - 32768;
queue_samples([leading sweep 1 2 3]);
[a, b] = SwpRead(2);
assert(size(a), [671 2]);
assert(size(b), [8 1000]);
assert(a(:)', leading);
assert(b(:)', sweep);
assert(a(1, 2), leading(672));   % sample 671 heads the second column
assert(b(:, 1)', sweep(1:8));    % eight consecutive samples per column
assert(b(1, 2), sweep(9));
assert(pending(), 6);
assert(isempty(sim_trace('write accel')), 'SwpRead must not send anything');

% Other modes: no leading record; the first 16000 bytes are the sweep.
for mode = [1 0 3]
  dapsim('reset');
  queue_samples([sweep 5]);
  [a, b] = SwpRead(mode);
  assert(all(a(:) == 0));
  assert(b(:)', sweep);
  assert(pending(), 2);
end

% Extreme and small values keep their sign.
dapsim('reset');
dapsim('queue bin ff 7f 00 80 01 00 ff ff');
[~, b] = SwpRead(1);
assert(b(1:4), [32767 -32768 1 -1]);

% 1500 bytes and nothing more: elements 0-749 hold samples, the rest are 0,
% and the call returns after the window, not before.
dapsim('reset');
queue_samples(1:750);
[~, b] = SwpRead(1);
assert(b(1:750), 1:750);
assert(all(b(751:end) == 0));
t = str2double(dapsim('clock'));
assert(t > 1000 && t < 1010, sprintf('returned at tick %d', t));

% Mode 2 with nothing arriving: two full windows, all zeros.
dapsim('reset');
[a, b] = SwpRead(2);
assert(all(a(:) == 0) && all(b(:) == 0));
t = str2double(dapsim('clock'));
assert(t > 2000 && t < 2015, sprintf('returned at tick %d', t));

% A leading record cut short by its window: what arrives later starts the
% sweep record of the same call.
dapsim('reset');
queue_samples(1:100);
queue_samples(1001:9000, 1500);
[a, b] = SwpRead(2);
assert(a(1:100), 1:100);
assert(all(a(101:end) == 0));
assert(b(:)', 1001:9000);

% A record that completes early ends at once.
dapsim('reset');
queue_samples(sweep, 50);
SwpRead(1);
t = str2double(dapsim('clock'));
assert(t >= 50 && t < 55, sprintf('returned at tick %d', t));

% Fewer result slots than matrices: the sweep is still taken from the stream
% (the next call starts after it), and nothing is stored past the slots.
dapsim('reset');
queue_samples([leading sweep leading sweep]);
SwpRead(2);
assert(pending(), 2 * (1342 + 8000));
a = SwpRead(2);
assert(a(:)', leading);
assert(pending(), 0);

% Reads that deliver less than asked: only what arrived is counted and
% converted, so no stale staging bytes reach the matrix and no sample is lost.
dapsim('reset');
dapsim('fault shortread accel1 333');
queue_samples([leading sweep]);
[a, b] = SwpRead(2);
assert(a(:)', leading);
assert(b(:)', sweep);
% Reads that fail take nothing; the bytes wait for the next call.
dapsim('reset');
dapsim('fault readfail accel1 5');
queue_samples(sweep);
[~, b] = SwpRead(1);
assert(all(b(:) == 0));
dapsim('fault clear');
[~, b] = SwpRead(1);
assert(b(:)', sweep);
% A failing availability query counts as nothing readable.
dapsim('reset');
dapsim('fault ioctl accel1 1 fail 5');
queue_samples(sweep);
[~, b] = SwpRead(1);
assert(all(b(:) == 0));
assert(pending(), 16000);
