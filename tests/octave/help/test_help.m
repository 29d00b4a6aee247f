% Help files: every built plug-in has help whose first line names it and an
% example that calls it and says what comes back, the help file never hides
% the plug-in it documents, and lookfor and the folder's Contents find the
% commands.
1;
function check_example(name, text)
  block = regexp(text, '\n *Example[^\n]*:\n((?: {4,}[^\n]*(?:\n|$))+)', 'tokens', 'once');
  assert(~isempty(block), '%s: help has no example', name);
  calls = regexprep(block{1}, '%[^\n]*', '');
  assert(~isempty(regexp(calls, ['\<' name '\>'], 'once')), '%s: its example does not call it', name);
  assert(any(block{1} == '%'), '%s: its example does not say what comes back', name);
end

build = getenv('DAP_BUILD_DIR');
folders = {fullfile(build, 'mex'), fullfile(build, 'simctl'), fullfile(build, 'diagnostics')};
% The diagnostics stay off the path: their plug-in "test" shadows Octave's.
on_path = [true, true, false];
for f = 1:numel(folders)
  plugins = dir(fullfile(folders{f}, '*.mex'));
  assert(~isempty(plugins), 'no plug-ins in %s', folders{f});
  for k = 1:numel(plugins)
    [~, name] = fileparts(plugins(k).name);
    file = fullfile(folders{f}, [name '.m']);
    [text, format] = get_help_text_from_file(file);
    assert(strcmp(format, 'plain text'), '%s: help is "%s"', file, format);
    lines = strsplit(strtrim(text), "\n");
    assert(strncmpi(lines{1}, [name ' '], numel(name) + 1), ...
           '%s: first help line "%s" does not name it', file, lines{1});
    check_example(name, text);
    % The host may be Octave; a DAPL file read from the current folder comes
    % with word of where the sample is.
    assert(isempty(regexp(text, 'MATLAB''s (current folder|standard input)', 'once')), ...
           '%s: the host may be Octave', name);
    assert(isempty(strfind(text, 'from the current folder')) || ~isempty(strfind(text, 'dapl/')), ...
           '%s: reads a DAPL file from the current folder, but does not say where the samples are', name);
    % Only comments: code in it would run wherever the .mex is missing.
    source = strtrim(strsplit(fileread(file), "\n"));
    source = source(~cellfun(@isempty, source));
    assert(all(strncmp(source, '%', 1)), '%s holds more than comments', file);
    if on_path(f)
      assert(strcmp(help(name), text), '%s: help finds another text', name);
      assert(strcmp(which(name), fullfile(folders{f}, [name '.mex'])), ...
             '%s resolves to %s, not the plug-in', name, which(name));
    end
  end
end

% The folder's Contents lists every command built into it.
contents = get_help_text_from_file(fullfile(build, 'mex', 'Contents.m'));
commands = dir(fullfile(build, 'mex', '*.mex'));
for k = 1:numel(commands)
  [~, name] = fileparts(commands(k).name);
  assert(~isempty(regexp(contents, ['\n\s+' name '\s+-'], 'once')), ...
         'Contents.m does not list %s', name);
end

% The simulator's helpers have examples too.
helpers = dir(fullfile(getenv('DAP_SOURCE_DIR'), 'sim', 'octave', '*.m'));
for k = 1:numel(helpers)
  [~, name] = fileparts(helpers(k).name);
  check_example(name, get_help_text_from_file(fullfile(helpers(k).folder, helpers(k).name)));
end

% lookfor searches the first help sentence. Every word of a family's heading
% in "help dap" (a plural as its singular) finds each command under it.
contents = strsplit(help('dap'), "\n");
heading = '';
wanted = {};   % word, command, heading
for k = 1:numel(contents)
  command = regexp(contents{k}, '^\s{2,}(\w+)\s+- ', 'tokens', 'once');
  if isempty(command)
    heading = strtrim(contents{k});
    continue
  end
  words = regexp(lower(heading), '[a-z-]+', 'match');
  for word = regexprep(words(cellfun(@numel, words) > 2), '([^su])s$', '$1')
    wanted(end+1, :) = {word{1}, command{1}, heading};
  end
end
assert(rows(wanted) >= 60, 'help dap lists too few commands under headings');
for word = unique(wanted(:, 1))'
  found = lookfor(word{1});
  for k = find(strcmp(wanted(:, 1), word{1}))'
    assert(any(strcmp(found, wanted{k, 2})), 'lookfor %s misses %s (under "%s")', ...
           word{1}, wanted{k, 2}, wanted{k, 3});
  end
end

% A plain word a lab would type finds every command that does it.
families = {
  'trigger',   {'TandemInit', 'TandemStart', 'TandemRead', 'GateInit', 'GateRead', ...
                'SpikerInit', 'spiker', 'SmartRead'}
  'event',     {'SmartRead', 'StimResp', 'StimResp2'}
  'reset',     {'BrdClear', 'WaveInit'}
  'DAPL',      {'BrdCmd', 'BrdLoad', 'BrdLoadPath', 'SwpInit'}
  'waveform',  {'WaveInit', 'WaveData', 'WaveHalt', 'WaveOut', 'spiker'}
  'pulse',     {'TandemInit', 'TandemStart', 'TandemRead', 'PairInit', 'PairStart', 'PairSend'}
  'start',     {'SwpStart', 'TandemStart', 'PairStart'}
  'stop',      {'SwpStop', 'SwpClose', 'WaveHalt'}
  'table',     {'PairSend', 'PairOut', 'WaveData'}
  'long',      {'marathon'}
  'stimulus',  {'PairInit', 'PairStart', 'PairSend', 'PairOut', 'WaveInit', 'WaveData', ...
                'WaveHalt', 'WaveOut', 'StimResp', 'StimResp2'}
  'sweep',     {'SwpInit', 'SwpOpen', 'SwpStart', 'SwpRead', 'SwpOffset', 'SwpStop', ...
                'SwpClose', 'marathon'}
  'spike',     {'SpikerInit', 'spiker'}
  'threshold', {'GateInit', 'GateRead', 'StimResp2'}
  'gate',      {'GateInit', 'GateRead'}
  'tandem',    {'TandemInit', 'TandemStart', 'TandemRead'}
  'offset',    {'SwpOffset'}
  'board',     {'BrdClear', 'BrdCmd', 'BrdLoad', 'BrdLoadPath'}};
for f = 1:rows(families)
  missed = setdiff(families{f, 2}, lookfor(families{f, 1}));
  assert(isempty(missed), 'lookfor %s misses %s', families{f, 1}, strjoin(missed, ', '));
end
