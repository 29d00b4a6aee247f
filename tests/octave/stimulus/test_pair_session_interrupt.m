% Ctrl-C while PairSend waits for free space: the guard takes the channels,
% and the call ends at once reporting how much went out.
[status, out, trace] = dap_child('PairSend((1:5)''); disp(''not reached'');', ...
                                 {'freespace 4 0', 'sigint tick 50'});
% The guard's lines first, then how much of the table went out.
closing = strfind(out, 'Closing binary and text channels to DAP.');
summary = strfind(out, 'PairSend: interrupted after 2 of 5 entries sent');
assert(numel(closing) == 1 && numel(summary) == 1 && closing < summary, out);
assert(isempty(strfind(out, 'not reached')), out);
sigint = find(~cellfun(@isempty, strfind(trace, 'sigint')), 1);
released = find(~cellfun(@isempty, regexp(trace, '(release|close) accel1')), 1);
assert(~isempty(sigint) && ~isempty(released) && released > sigint, strjoin(trace, "\n"));
% Nothing after the interrupt polls the closed channel for long.
ticks = cellfun(@(l) sscanf(l, '%d', 1), trace);
assert(ticks(end) - ticks(sigint) <= 2, strjoin(trace, "\n"));
