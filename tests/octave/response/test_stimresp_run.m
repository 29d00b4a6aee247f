% StimResp on the simulated preparation: what reaches the board, in what
% order, and what comes back.
R = StimResp();
assert(size(R), [300 9]);

% the board loader runs once per call, before the channels are opened
trace = sim_trace();
loader = find(~cellfun(@isempty, strfind(trace, ...
  'system "/usr/src/linux/drivers/dap/comload /dosc/labrig/dap/getspike.bin -s1000"')));
opens = find(~cellfun(@isempty, regexp(trace, 'open accel[01]')));
assert(numel(loader), 1);
assert(numel(opens), 2);
assert(loader < opens(1));
assert(strtrim(dapsim('loaded')), '1');
assert(strtrim(dapsim('open')), '0');

% the text channel: reset, the two programs, the start line and nothing
% else; no line stops the tasks
text = char(sim_written('accel0'));
dapl = getenv('DAPSIM_DAPL_DIR');
program = @(name) strrep(fileread(fullfile(dapl, name)), "\n", "\r");
assert(text, ["\rRESET\r" program('opstim2.dap') program('stimresp.dap') ...
              "start stimrespa,stimrespb,ledstim2a,ledstim2b\r"]);

% the binary channel: the pulse table, once per pass
table = [0, repmat(16384, 1, 500), 0];
table_bytes = uint8(reshape([mod(table, 256); floor(table / 256)], 1, []));
assert(sim_written('accel1'), repmat(table_bytes, 1, 3));

% channel 8 marks the three stimuli, in order
markers = R(1:3:end, 9);
assert(nnz(markers), 3);
assert(R(2:3:9, 9)', [16384 16384 16384]);
assert(R(3:3:9, 9)', [1 2 3]);
onsets = markers(1:3)';
assert(all(diff(onsets) > 0));

% the busy channels reach the cap of 100: channel 0 fires on its own,
% channel 1 only in bursts of 40 after each stimulus, so its hundred are
% the bursts of the first two stimuli and half of the third
counts = arrayfun(@(c) nnz(R(1:3:end, c)), 1:9);
assert(counts(1:2), [100 100]);
assert(all(counts(3:8) > 0 & counts(3:8) < 100));
burst_times = R(1:3:end, 2);
assert(all(burst_times(1:40) > onsets(1) & burst_times(1:40) < onsets(2)));
assert(all(burst_times(81:100) > onsets(3)));

% responses come after a stimulus, within two seconds (board time counts
% 10000 per second), and each channel's events arrive in time order
for c = 3:5
  times = R(1:3:end, c);
  times = times(times > 0);
  since = arrayfun(@(t) t - max(onsets(onsets < t)), times);
  assert(all(since > 0 & since < 20000), sprintf('channel %d', c - 1));
  assert(all(diff(times) > 0));
end

% a second call runs the loader again
StimResp();
assert(numel(sim_trace('system "/usr/src/linux/drivers/dap/comload')), 2);
