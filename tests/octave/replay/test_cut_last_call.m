% The last call of a session, cut alone, holds the same records as in the
% whole file, the clock values read after its last device call included,
% and replays exactly.
1;
function lines = last_call(tool, file)
  [status, out] = system(sprintf('%s show %s', tool, file));
  assert(status == 0, out);
  lines = strsplit(strtrim(out), "\n");
  at = find(strncmp(lines, '--- call ', 9), 1, 'last');
  lines = lines(at + 1:end - 1);   % without the count of records
end
tool = fullfile(getenv('DAP_BUILD_DIR'), 'sim', 'dapsession');
whole_file = fullfile(getenv('DAP_SOURCE_DIR'), 'examples', 'replay_sweep.ses');
[~, out] = system(sprintf('%s show %s', tool, whole_file));
calls = str2double(regexp(out, '--- call (\d+)', 'tokens'){end}{1});
part = [tempname() '.ses'];
[status, out] = system(sprintf('%s cut %s %d %s', tool, whole_file, calls, part));
assert(status == 0, out);
whole_call = last_call(tool, whole_file);
assert(last_call(tool, part), whole_call);
assert(strcmp(whole_call{end}, 'clock 260'), whole_call{end});

% Replayed alone, the call reads every clock value it read then, no more.
[status, out] = replay_child('SwpClose;', 'replay', part);
assert(status == 0 && ~isempty(regexp(out, ': exact: [^;\n]*\n', 'once')), out);
delete(part);
