% A whole sweep session on the default simulated board, nothing configured:
% the records line up call after call and look like a recording.
1;
% Baseline, noise, and the answer to the stimulus 20 ms into the sweep.
function check_sweep(b)
  s = b(:)';
  base = mean(s(1:380));
  assert(abs(base - (-150)) < 15, sprintf('baseline %g', base));
  assert(std(s(1:380)) > 5 && std(s(1:380)) < 25);
  assert(s(401) - base > 1000, 'no stimulus artefact at sample 400');
  [trough, at] = min(s(404:800));
  assert(trough - base < -800 && at > 40 && at < 200, 'no population spike');
  assert(abs(mean(s(6001:end)) - base) < 40, 'no return to baseline');
end

SwpInit;
SwpStart(2);
for k = 1:3
  [a, b] = SwpRead(2);
  % The leading record is the baseline just before the sweep.
  assert(abs(mean(a(:)) - (-150)) < 15 && std(a(:)) < 25);
  check_sweep(b);
  sweeps{k} = b;
end
assert(~isequal(sweeps{1}, sweeps{2}), 'every sweep has its own noise');
r = SwpOffset;
assert(abs(r(1) - (-150)) <= 5 && abs(r(2) - 37) <= 5, mat2str(r));
[a, b] = SwpRead(2);
check_sweep(b);
SwpStop(2);
SwpClose;
dapsim('advance 300');
assert(str2double(dapsim('pending accel1')) == 0, 'tasks still sending after the stop');
assert(str2double(dapsim('pending accel0')) == 0, 'the board objected to a line');
assert(isempty(sim_trace('lost')));
% Only offseta, which SwpOffset leaves to track the offsets, still runs.
tasks = strtrim(strsplit(strtrim(dapsim('tasks')), "\n"));
assert(tasks(~cellfun(@isempty, strfind(tasks, '*'))), {'offseta *'});

% The same seed gives the same session.
dapsim('reset');
SwpInit;
SwpStart(2);
[~, again] = SwpRead(2);
assert(isequal(again, sweeps{1}));

% Mode 1: one sweep for every trigger put into trigpipe.
dapsim('reset');
SwpInit;
SwpStart(1);
[a, b] = SwpRead(1);
assert(all(a(:) == 0));
check_sweep(b);
[~, b] = SwpRead(1);
assert(all(b(:) == 0), 'a sweep without a trigger');
BrdCmd('fill trigpipe 2');
[~, b] = SwpRead(1);
check_sweep(b);
SwpStop(1);

% A host that stops reading: whole sweeps are held back rather than cut, so
% the next read still starts at a record boundary.
dapsim('reset');
SwpInit;
SwpStart(2);
dapsim('advance 1000');
held = str2double(dapsim('pending accel1'));
assert(mod(held, 2 * (1342 + 8000)) == 0 && held > 0, sprintf('%d bytes held', held));
assert(~isempty(sim_trace('sweep dropped')));
for k = 1:held / (2 * (1342 + 8000)) + 1
  [a, b] = SwpRead(2);
  assert(abs(mean(a(:)) - (-150)) < 15);
  check_sweep(b);
end
