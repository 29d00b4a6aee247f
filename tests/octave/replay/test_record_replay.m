% The recorder changes nothing the commands see; a session recorded on top
% of the simulated board and replayed gives every family's command the very
% results it gave when it was recorded; a session cut down to one command
% call replays that call alone.
1;
function [results, trace] = run_and_load(how, session, code, mat)
  [status, output, trace] = replay_child([code sprintf('\nsave(''-binary'', ''%s'');', mat)], ...
                                         how, session);
  assert(status == 0, output);
  results = load(mat);
  delete(mat);
end

session = [tempname() '.ses'];
% SwpOpen, PairOut and WaveInit send a file of the current folder.
cellfun(@(f) copyfile(fullfile(getenv('DAPSIM_DAPL_DIR'), f), f), ...
        {'shrtrecT.dap', 'twpls.dap', 'test4.dap'});
code = strjoin({
  'SwpInit; SwpStart(2); [lead, sweep] = SwpRead(2); offsets = SwpOffset; SwpStop(2); SwpClose;'
  'm = marathon(''A''); SwpOpen; GateInit; gate = GateRead; BrdLoad(''smart''); smart = SmartRead;'
  'PairOut(1:602); WaveInit; WaveData(1:602); WaveHalt; WaveOut(1:602);'
  'BrdClear; BrdCmd(''let v1=0''); BrdLoadPath(''twpls.dap'');'
  'SpikerInit; spikes = spiker;'
  'TandemInit; TandemStart; tandem = TandemRead([1 2 3 4 5 6 7 0]);'
  'PairInit; PairStart; PairSend((1:300)'');'
  'R = StimResp();'
  'R2 = StimResp2([100 200 300 400 500 600 700 800]);'
  'clear ans;'}, "\n");
[recorded, recorded_trace] = run_and_load('record', session, code, [tempname() '.mat']);
[plain, plain_trace] = run_and_load('plain', '', code, [tempname() '.mat']);
assert(isequal(recorded, plain), 'the recorder changed a result');
assert(isequal(recorded_trace, plain_trace), 'the recorder changed what the board saw');
info = dir(session);
printf('session file: %d bytes\n', info.bytes);
assert(any(recorded.sweep(:) ~= 0) && any(recorded.R2(:) ~= 0));

replayed = run_and_load('replay', session, code, [tempname() '.mat']);
names = fieldnames(recorded);
for k = 1:numel(names)
  assert(isequal(recorded.(names{k}), replayed.(names{k})), ['differs on replay: ' names{k}]);
end
% ... and without a single difference along the way.
[status, output, trace] = replay_child([code "\nprintf('%s\\n', dapsim('replay'));"], ...
                                       'replay', session);
assert(status == 0, output);
assert(~isempty(strfind(output, 'differences 0')), output);
assert(isempty(regexp(strjoin(trace, "\n"), 'replay differs', 'once')));

% The session as text: the calls numbered, DAPL lines as text, the loader.
tool = fullfile(getenv('DAP_BUILD_DIR'), 'sim', 'dapsession');
[status, shown] = system(sprintf('%s show %s --brief', tool, session));
assert(status == 0, shown);
calls = regexp(shown, '--- call (\d+)', 'tokens');
assert(~isempty(regexp(shown, 'write accel0 \d+ "start stimrespa', 'once')), shown);
assert(~isempty(regexp(shown, 'loader "/usr/src/linux/drivers/dap/comload [^"]*" -> 0', 'once')));
% Binary data as the records of the family the call's tasks name, split
% across reads as it may be: the very values the commands took from it.
numbers = @(text) reshape(str2double(strsplit(text, ',')), 1, []);
tok = regexp(shown, '\n    sweep col=1 v=([-\d,]+)\n', 'tokens', 'once');
assert(isequal(numbers(tok{1}), recorded.sweep(:, 1)'), shown);
tok = regexp(shown, '\n    spike ch=(\d+) t=(\d+) wave=([-\d,]+)\n', 'tokens', 'once');
assert(isequal(numbers(strjoin(tok, ',')), recorded.spikes(1:22)), shown);
parts = strsplit(shown, '--- call ');
tok = regexp(parts{end}, '\n    event ch=(\d+) t=(\d+) v1=(-?\d+) v2=(-?\d+)\n', 'tokens', 'once');
event = reshape(str2double(tok), 1, []);
assert(isequal(recorded.R2(1:3, event(1) + 1)', event(2:4)), parts{end});
% PairOut resets the board: what it drains is no gate record; its tables
% are shown as the two outputs. Calls that start nothing say what they did,
% and a run of clock records is one line.
pairout = parts{~cellfun(@isempty, regexp(parts, ['^\d+: reset; defines twplsa twplsb; ' ...
                                                  'starts twplsa,twplsb; stop; writes 12040 ' ...
                                                  'bytes(; reads \d+ bytes)?\n'], 'once'))};
assert(isempty(strfind(pairout, '    gate')) && ~isempty(strfind(pairout, 'a1: 2 4 6 8 ')), pairout);
assert(~isempty(regexp(shown, ['call \d+: reset; defines elstima elstimb; starts all\n((?!--- ).)*' ...
                               '--- call \d+: writes 1204 bytes\n((?!--- ).)*--- call \d+: stop\n'], ...
                       'once')), shown);
assert(~isempty(regexp(shown, '\nclock \d+\.\.\d+ x\d+', 'once')));
assert(isempty(regexp(shown, '\nclock [^\n]*\nclock ', 'once')));
% Options may come before the file as well as after it.
[status, raw] = system(sprintf('%s show --raw --brief %s', tool, session));
assert(status == 0 && isempty(strfind(raw, 'event ch=')) && ~isempty(strfind(raw, 'int16: ')));

% The last call is StimResp2's: cut out, it replays alone.
last = calls{end}{1};
part = [tempname() '.ses'];
[status, out] = system(sprintf('%s cut %s %s %s', tool, session, last, part));
assert(status == 0, out);
alone = run_and_load('replay', part, 'R2 = StimResp2([100 200 300 400 500 600 700 800]);', ...
                     [tempname() '.mat']);
assert(isequal(alone.R2, recorded.R2));
delete(session);
delete(part);
