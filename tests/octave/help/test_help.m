% Help files: every built plug-in has help whose first line names it, the
% help file never hides the plug-in it documents, and lookfor and the
% folder's Contents find the commands.
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

% lookfor searches the first help line.
found = lookfor('sweep');
assert(any(strcmp(found, 'SwpRead')), 'lookfor sweep does not list SwpRead');
