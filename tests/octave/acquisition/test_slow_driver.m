% A busy driver takes several ticks over each operation. With the binary
% channel's every open, request, read, write and close taking T ticks, each
% command that waits or collects still ends well before a window it need not
% wait out, lets go of the channels, loses nothing in the driver, and returns
% what arrived: what it returns with a quick driver, or, where the slower
% reading lets fewer records in before the window closes, the same records
% in the same places, later on the board's clock.
1;
function same(slow, quick)
  assert(isequal(slow, quick), 'a different result');
end
function near(slow, quick)
  % The sweep's slow drift follows the board's clock, so a sweep that starts
  % a few ticks later may round a sample the other way.
  assert(max(abs(slow(:) - quick(:))) <= 1, 'samples changed or shifted');
end
function later(slow, quick, width, time_row)
  % Each column a stream of `width`-element records: the slow call's are
  % the quick call's first ones, each later by the same time.
  kept = 0;
  shifts = [];
  values = setdiff(1:width, time_row);
  for c = 1:columns(slow)
    s = reshape(slow(:, c), width, []);
    q = reshape(quick(:, c), width, []);
    n = find(any(s), 1, 'last');
    if isempty(n)
      continue;
    end
    assert(isequal(s(values, 1:n), q(values, 1:n)), 'records changed or out of frame');
    shifts = unique([shifts, s(time_row, 1:n) - q(time_row, 1:n)]);
    kept += n;
  end
  assert(kept >= 50, sprintf('only %d records', kept));
  assert(isscalar(shifts) && shifts > 0, 'record times not shifted as one');
end
function stimuli(slow, quick)
  % Event records depend on when each stimulus went out: the three stimuli
  % on channel 8, each a little later than with a quick driver, and every
  % channel's events in time order.
  assert(slow(2:3:9, 9)', repmat(16384, 1, 3));
  assert(slow(3:3:9, 9)', 1:3);
  lag = slow(1:3:9, 9) - quick(1:3:9, 9);
  assert(all(lag > 0 & lag < 2000), mat2str(lag'));
  for c = 1:9
    t = slow(1:3:end, c);
    assert(all(diff(t(t > 0)) > 0), sprintf('channel %d out of order', c - 1));
  end
end

% name, call (leaves r), ticks per operation, ticks the whole call may take,
% check. marathon's board sends 20000 samples a second (A) or 10000 (E), and
% takes four driver operations per 1000-byte block: only one tick each keeps
% up with E.
cases = {
  'BrdClear',   ['dapsim(''queue bin 0102030405''); dapsim(''queue text "x\r\n"''); BrdClear;' ...
                 'r = [dapsim(''pending accel0'') dapsim(''pending accel1'')];'], 3, 100, @same
  'SwpRead',    'SwpInit; SwpStart(2); [a, b] = SwpRead(2); r = [a(:); b(:)];', 3, 200, @near
  'marathon',   'r = marathon(''E'');', 1, 2500, @same
  'spiker',     'SpikerInit; r = spiker; r = r(:);', 3, 1300, @(s, q) later(s, q, 22, 2)
  'SmartRead',  'BrdLoad(''smart''); r = SmartRead; r = r(:, 2:9);', 3, 800, @(s, q) later(s, q, 3, 1)
  'TandemRead', 'TandemInit; TandemStart; r = TandemRead(0:7);', 3, 500, @same
  'PairSend',   ['PairInit; PairStart; PairSend((1:600)''); dapsim(''advance 200'');' ...
                 'r = [dapsim_played(''a0'') dapsim_played(''a1'')];'], 3, 400, @same
  'StimResp',   'r = StimResp();', 3, 6300, @stimuli
};
for k = 1:rows(cases)
  [name, call, ticks, most, check] = cases{k, :};
  for slow = [false true]
    dapsim('reset');
    if slow
      dapsim(sprintf('fault slow accel1 %d', ticks));
    end
    eval(call);
    took(slow + 1) = str2double(dapsim('clock'));
    result{slow + 1} = r;
  end
  assert(took(2) > took(1) && took(2) <= most, '%s: ended at tick %d (quick driver: %d)', ...
         name, took(2), took(1));
  assert(strtrim(dapsim('open')), '0');
  assert(isempty(sim_trace('lost')), '%s: the driver dropped data', name);
  try
    check(result{2}, result{1});
  catch err
    error('%s with a slow driver: %s', name, err.message);
  end
end
