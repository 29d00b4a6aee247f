% StimResp2: the thresholds as DAPL lines, the single pass, and thresholds
% that silence channels.
R = StimResp2([100 200 300 400 500 600 700 800]);
assert(size(R), [300 9]);

% each LET line is one write of its own, in order, after the two programs
% and before the start line; nothing stops the tasks
writes = regexp(sim_trace('write accel0'), '"(.*)"', 'tokens', 'once');
writes = cellfun(@(t) t{1}, writes, 'UniformOutput', false);
lets = find(strncmp(writes, 'LET', 3));
expected = arrayfun(@(k) sprintf('LET THR%d=%d\\r', k, 100 * (k + 1)), 0:7, ...
                    'UniformOutput', false);
assert(writes(lets), expected);
assert(lets, lets(1):lets(1) + 7);
assert(writes{end}, 'start stimrespa,stimrespb,ledstim2a,ledstim2b\r');
assert(lets(end) == numel(writes) - 1);
text = char(sim_written('accel0'));
dapl = getenv('DAPSIM_DAPL_DIR');
program = @(name) strrep(fileread(fullfile(dapl, name)), "\n", "\r");
assert(strncmp(text, ["\rRESET\r" program('opstim2.dap') program('stimresp2.dap') 'LET THR0=100'], ...
               7 + numel(program('opstim2.dap')) + numel(program('stimresp2.dap')) + 12));
assert(isempty(strfind(lower(text), 'stop')));
assert(isempty(sim_trace('comload')), 'StimResp2 runs no loader');

% one table, one window: one stimulus marker; the busy channel 0 still
% reaches the cap within the window
table = [0, repmat(16384, 1, 500), 0];
assert(sim_written('accel1'), uint8(reshape([mod(table, 256); floor(table / 256)], 1, [])));
assert(nnz(R(1:3:end, 9)), 1);
assert(nnz(R(1:3:end, 1)), 100);

% the conversion of each threshold: truncation, then the low 16 bits
dapsim('reset');
StimResp2([-12.7 40000 32767.9 65536 -3.7 1234.9 -32768 NaN]);
sent = [-12 -25536 32767 0 -3 1234 -32768 0];
for k = 0:7
  assert(str2double(dapsim(sprintf('variable THR%d', k))), sent(k + 1));
  assert(numel(sim_trace(sprintf('"LET THR%d=%d\\r"', k, sent(k + 1)))), 1);
end

% a threshold above every amplitude silences its channel; the stimulus
% marker of channel 8 has none
dapsim('reset');
R = StimResp2([0 0 0 0 32767 32767 32767 32767]);
counts = arrayfun(@(c) nnz(R(:, c)), 1:9);
assert(all(counts(1:4) > 0));
assert(counts(5:8), [0 0 0 0]);
assert(counts(9) > 0);

% a failed open returns the zero matrix and sends nothing
dapsim('reset');
dapsim('fault missing accel1 2');
out = evalc('R = StimResp2(zeros(1, 8));');
assert(out, sprintf('Error opening accel1, errno=2\n'));
assert(R, zeros(300, 9));
assert(isempty(sim_written('accel0')));
assert(strtrim(dapsim('open')), '0');
