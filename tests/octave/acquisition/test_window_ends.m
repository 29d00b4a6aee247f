% Each command's window ends exactly where it should: a record that arrives at
% its last tick (counted from the start line) is taken, one a tick later is
% left. A window one tick short would drop the events of its last tick
% without a word. SwpOffset's and TandemRead's closing look at the channel
% still takes what is there as the window closes.
1;
function hex = words_hex(words)
  w = mod(double(words), 65536);
  hex = sprintf('%02x', [mod(w, 256); floor(w / 256)]);
end
event = event_record_hex(5, 31337, 11, 12);
cases = {
  'spiker',     'start spikera,spikerb\r', 'r = spiker; t = r(1) == 3;', words_hex([3 1 0 1 zeros(1, 19)]), 1099
  'SmartRead',  'start smarta,smartb\r',   'r = SmartRead; t = r(1, 3) == 5;', words_hex([2 5 0 1 0 1]), 609
  'StimResp2',  'start stimrespa,stimrespb,ledstim2a,ledstim2b', 'r = StimResp2(zeros(1, 8)); t = any(r(:) == 31337);', event, 1099
  % the last of three passes of 2000 ticks
  'StimResp',   'start stimrespa,stimrespb,ledstim2a,ledstim2b', 'r = StimResp; t = any(r(:) == 31337);', event, 5999
  'SwpOffset',  'start offseta,offsetb\r', 'r = SwpOffset; t = r(1) == 16;', '1000f0ff', 1001
  % 1000 ticks from just before the start line
  'TandemRead', 'start echreadd,echreadc\r', 'r = TandemRead(zeros(1, 8)); t = r(1) == 5;', words_hex([1 0 1]), 1000
};
for k = 1:size(cases, 1)
  for late = 0:1
    dapsim('reset');
    dapsim(sprintf('rule "%s" after %d bin %s', cases{k, 2}, cases{k, 5} + late, cases{k, 4}));
    evalc(cases{k, 3});
    assert(t == !late, '%s: a record %d tick(s) after the start line was %s', cases{k, 1}, ...
           cases{k, 5} + late, {'left', 'taken'}{t + 1});
  end
end

% The settling waits between the lines, and the one after the window: the
% ticks of each line sent on the text channel and of its close, from the
% first line on.
cases = {
  'SpikerInit; dapsim(''trace clear''); r = spiker;', [0 10 30 1140]
  'BrdLoad(''smart''); dapsim(''trace clear''); r = SmartRead;', [0 10 40 650 650]
  'dapsim(''trace clear''); r = StimResp2(zeros(1, 8));', [0 20 20 30 * ones(1, 8) 40 1150]
  'dapsim(''trace clear''); r = marathon(''A'');', [0 1 301 1301 1301]
};
for k = 1:size(cases, 1)
  dapsim('reset');
  evalc(cases{k, 1});
  lines = sim_trace('accel0');
  ticks = cellfun(@(l) sscanf(l, '%d', 1), lines(~cellfun(@isempty, regexp(lines, 'write accel0|close accel0'))));
  assert(ticks(:)' - ticks(1), cases{k, 2}, 0);
end
