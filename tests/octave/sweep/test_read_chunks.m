% SwpRead: the same byte stream gives the same matrices however the driver
% cuts it, odd-sized pieces included, as long as it completes in the window.
stream_leading = int16(round(3000 * sin((0:1341) / 40)));
stream_sweep = int16(round(8000 * cos((0:7999) / 97)) - 2000);
bytes = typecast([stream_leading stream_sweep], 'uint8');

dapsim('reset');
dapsim(['queue bin ' sprintf('%02x', bytes)]);
[whole_a, whole_b] = SwpRead(2);
assert(whole_a(:)', double(stream_leading));
assert(whole_b(:)', double(stream_sweep));

rand('seed', 11);
largest = [61 401 2999];
for trial = 1:9
  dapsim('reset');
  % One piece a tick, of 1 to `largest` bytes; some trials also cap every
  % read at an odd size.
  at = 0;
  k = 1;
  while k <= numel(bytes)
    n = min(numel(bytes) - k + 1, 1 + floor(rand() * largest(mod(trial, 3) + 1)));
    dapsim(sprintf('queue bin %s at %d', sprintf('%02x', bytes(k:k + n - 1)), at));
    k += n;
    at += 1;
  end
  if mod(trial, 4) == 1
    dapsim(sprintf('fault shortread accel1 %d', 2 * floor(rand() * 500) + 1));
  end
  [a, b] = SwpRead(2);
  assert(isequal(a, whole_a), sprintf('leading record differs in trial %d', trial));
  assert(isequal(b, whole_b), sprintf('sweep record differs in trial %d', trial));
  % The trial is only worth something if the reads did split samples.
  reads = sim_trace('read accel1');
  got = cellfun(@(l) sscanf(regexp(l, '-> (\d+)', 'tokens', 'once'){1}, '%d'), reads);
  assert(any(mod(got, 2) == 1), sprintf('no odd read in trial %d', trial));
end
