% hello and test: text out of a plug-in and into one. Their folder is put on
% the path here only: the plug-in "test" shadows Octave's own test function.

build = getenv('DAP_BUILD_DIR');
diag = fullfile(build, 'diagnostics');

% The runner's set-up leaves every diagnostic off the path and out of the
% production folder, so no other test can reach the plug-in "test" by accident.
assert(isempty(strfind(path(), diag)), 'diagnostics on the default path');
assert(isempty(strfind(getenv('PATH'), diag)), 'diagnostics on the shell''s path');
assert(exist('hello') == 0 && exist('spinsig') == 0);
assert(isempty(strfind(which('test'), build)), 'test is not Octave''s own');
names = {'hello', 'test', 'plotdemo', 'spinsig', 'spinexit'};
for k = 1:numel(names)
  assert(~isfile(fullfile(build, 'mex', [names{k} '.mex'])), names{k});
  assert(isfile(fullfile(diag, [names{k} '.mex'])), names{k});
end

warning('off', 'Octave:shadowed-function');
addpath(diag);
assert(strcmp(which('test'), fullfile(diag, 'test.mex')));

assert(evalc('hello'), "hello, world!\n");

assert(evalc('test(''abc'')'), "The string you sent me is: abc\nhi\n");
% A character matrix arrives column by column; nothing is lost of a long text.
assert(evalc('test([''ab''; ''cd''])'), "The string you sent me is: acbd\nhi\n");
assert(evalc('test('''')'), "The string you sent me is: \nhi\n");
long = repmat('0123456789', 1, 1000);
assert(evalc('test(long)'), ["The string you sent me is: " long "\nhi\n"]);

% Anything but text ends the call with the conversion error and prints
% nothing; a call without an argument is refused with a usage message.
bad = {{5}, {int8([72 73])}, {{'abc'}}, {struct('a', 'abc')}, {}};
for k = 1:numel(bad)
  args = bad{k};
  out = evalc('try, test(args{:}); printf(''NO ERROR\n''); catch err, printf(''%s\n'', err.message); end');
  if isempty(args)
    assert(~isempty(strfind(out, 'usage: test(''text'')')), out);
  else
    assert(out, "test: Could not convert string data.\n");
  end
end
