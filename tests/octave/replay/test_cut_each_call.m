% Every command call of a session of every family, cut out with dapsession
% cut and replayed alone, replays exactly: the cut carries every clock value
% the call read, even those the recorder wrote after it.
1;
statements = {
  'SwpInit;', 'SwpStart(2);', '[lead, sweep] = SwpRead(2);', 'offsets = SwpOffset;', ...
  'SwpStop(2);', 'SwpClose;', 'm = marathon(''A'');', 'SwpOpen;', 'GateInit;', ...
  'gate = GateRead;', 'BrdLoad(''smart'');', 'smart = SmartRead;', 'PairOut(1:602);', ...
  'WaveInit;', 'WaveData(1:602);', 'WaveHalt;', 'WaveOut(1:602);', 'BrdClear;', ...
  'BrdCmd(''let v1=0'');', 'BrdLoadPath(''twpls.dap'');', 'SpikerInit;', 'spikes = spiker;', ...
  'TandemInit;', 'TandemStart;', 'tandem = TandemRead([1 2 3 4 5 6 7 0]);', 'PairInit;', ...
  'PairStart;', 'PairSend((1:300)'');', 'R = StimResp();', ...
  'R2 = StimResp2([100 200 300 400 500 600 700 800]);'};
% After each statement, how many calls the board has seen end (an open
% when none was open, up to the close or release that leaves none open).
count = ['t = dapsim_trace(); o = ~cellfun(@isempty, regexp(t, ''^\d+ open accel\d fd='', ''once''));' ...
         'c = ~cellfun(@isempty, regexp(t, ''^\d+ (close accel\d|release accel\d fd=\d+)$'', ''once''));' ...
         'printf(''calls %d\n'', sum(c & cumsum(o - c) == 0));'];
cellfun(@(f) copyfile(fullfile(getenv('DAPSIM_DAPL_DIR'), f), f), {'shrtrecT.dap', 'twpls.dap', 'test4.dap'});
session = [tempname() '.ses'];
[status, output] = replay_child(strjoin(strcat(statements, {count}), "\n"), 'record', session);
assert(status == 0, output);
ends = cellfun(@(t) str2double(t{1}), regexp(output, 'calls (\d+)', 'tokens'));
assert(numel(ends) == numel(statements), output);
tool = fullfile(getenv('DAP_BUILD_DIR'), 'sim', 'dapsession');
part = [tempname() '.ses'];
done = 0;
for k = 1:numel(statements)
  if ends(k) == done
    continue;
  end
  [status, out] = system(sprintf('%s cut %s %d-%d %s', tool, session, done + 1, ends(k), part));
  assert(status == 0, out);
  [status, out] = replay_child(statements{k}, 'replay', part);
  assert(status == 0 && ~isempty(regexp(out, 'dapsim: replay of [^\n]*: exact: ', 'once')), ...
         sprintf('%s (calls %d-%d) alone:\n%s', statements{k}, done + 1, ends(k), out));
  done = ends(k);
end
delete(session);
delete(part);
