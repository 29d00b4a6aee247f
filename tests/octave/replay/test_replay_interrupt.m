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
  assert(strcmp(replayed, recorded), [recorded '---' replayed]);
  assert(isempty(regexp(strjoin(trace, "\n"), 'replay differs', 'once')), strjoin(trace, "\n"));
end
delete(session);
