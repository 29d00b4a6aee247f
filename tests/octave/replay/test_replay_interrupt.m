% A Ctrl-C recorded with the session comes back on replay where it reached
% the command and the way it did (the guard's handler, or Octave's flag
% alone): the command ends as it ended then, guard lines included, with no
% difference from the recording.
runs = {'d = marathon(''e'');',    'sigint tick 800',      'handler'
        'SpikerInit; spiker;',     'sigint tick 200 host', 'octave'
        'R = StimResp();',         'sigint tick 1000',     'handler'};
tool = fullfile(getenv('DAP_BUILD_DIR'), 'sim', 'dapsession');
session = [tempname() '.ses'];
for k = 1:rows(runs)
  code = interrupt_probe(runs{k, 1});
  [~, recorded, trace] = replay_child(code, 'record', session, '', runs(k, 2));
  assert_guard_interrupted(recorded, trace);
  [status, shown] = system(sprintf('%s show %s', tool, session));
  assert(status == 0 && numel(strfind(shown, 'interrupt: Ctrl-C reached the command')) == 1, shown);
  assert(!isempty(strfind(shown, ['command (' runs{k, 3} ')'])), shown);
  [~, replayed, trace] = replay_child(code, 'replay', session);
  assert_guard_interrupted(replayed, trace);
  % The same output, and the replay's verdict after it: exact.
  verdict = regexp(replayed, 'dapsim: replay of [^\n]*: exact: [^\n]*\n', 'match', 'once');
  assert(!isempty(verdict), replayed);
  assert(strcmp(strrep(replayed, verdict, ''), recorded), [recorded '---' replayed]);
  assert(isempty(regexp(strjoin(trace, "\n"), 'replay differs', 'once')), strjoin(trace, "\n"));
end
% A Ctrl-C pending as the board loader starts (started by posix_spawn, its
% end seen by waitpid): noted after the run, and delivered after it on replay.
code = 'R = StimResp(); disp(''not reached'');';
[~, recorded] = replay_child(code, 'record', session, '', {'sigint loader'});
[status, shown] = system(sprintf('%s show %s', tool, session));
assert(status == 0 && !isempty(regexp(shown, 'loader[^\n]*\n[^\n]*interrupt: Ctrl-C reached the command \(held\)', 'once')), shown);
[~, replayed, trace] = replay_child(code, 'replay', session);
assert(isempty(strfind(replayed, 'not reached')), replayed);
verdict = regexp(replayed, 'dapsim: replay of [^\n]*: exact: [^\n]*\n', 'match', 'once');
assert(!isempty(verdict) && strcmp(strrep(replayed, verdict, ''), recorded), [recorded '---' replayed]);
delete(session);
