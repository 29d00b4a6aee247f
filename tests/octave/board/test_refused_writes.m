% A driver that refuses writes: each call says so once (dap:writeFailed) and
% keeps its results' shape; a collector whose start line never reached the
% board ends at once instead of waiting out its windows, while one whose line
% went in part (the board may have started) keeps them.
1;
function [out, ticks, r] = timed(code)
  r = [];
  start = str2double(dapsim('clock'));
  out = evalc(code);
  ticks = str2double(dapsim('clock')) - start;
end

collectors = {
  'r = marathon(''A'');',  [1 200000]
  'r = spiker;',           [1 17600]
  'r = SmartRead;',        [3000 9]
  'r = TandemRead(1:8);',  [1 8]
  'r = StimResp;',         [300 9]
  'r = StimResp2(1:8);',   [300 9]
  'r = SwpOffset;',        [1 2]
};
for fault = {'writefail accel0 EIO', 'shortwrite accel0 0'}
  for k = 1:rows(collectors)
    dapsim('reset');
    dapsim(['fault ' fault{1}]);
    [out, ticks, r] = timed(collectors{k, 1});
    assert(size(r), collectors{k, 2});
    assert(numel(regexp(out, 'warning: \w+: writing ')) == 1, '%s: %s', collectors{k, 1}, out);
    assert(ticks < 100, '%s waited %d ticks for a board that got nothing', collectors{k, 1}, ticks);
  end
end
% The ramp is SmartRead's own, whatever the board did.
dapsim('reset');
dapsim('fault writefail accel0 EIO');
r = SmartRead;
assert(r(1:1001), 0:1000);

% The warning names the channel, what was sent and why.
dapsim('reset');
dapsim('fault writefail accel0 EIO');
lastwarn('');
r = marathon('A');
[message, id] = lastwarn();
assert(id, 'dap:writeFailed');
assert(endsWith(message, ['writing DAPL program "/home/labrig/matlab/intrfc/dap/marathona.dap" ' ...
                          'to accel0 failed: Input/output error']), message);
assert(isempty(sim_written('accel0')));

% Only the program refused: the board started nothing, so nothing more is sent.
dapsim('reset');
dapsim('fault writefail accel0 EIO count 1');
[out, ticks] = timed('r = marathon(''A'');');
assert(ticks < 100 && isempty(sim_written('accel0')), out);

% A table the binary channel refuses is said as one.
dapsim('reset');
dapsim('fault shortwrite accel1 600');
lastwarn('');
WaveData(1:602);
[message, id] = lastwarn();
assert(id, 'dap:writeFailed');
assert(endsWith(message, 'writing a table of 1204 bytes to accel1 took 600 of 1204 bytes'), message);

% Part of the start line went: the board may have started, the window stays.
dapsim('reset');
dapsim('fault shortwrite accel0 3');
[out, ticks] = timed('r = SwpOffset;');
assert(ticks >= 1000, 'the window was cut to %d ticks', ticks);
assert(!isempty(strfind(out, 'writing the line "start offseta,offsetb\r" to accel0 took 3 of 22 bytes')), out);
