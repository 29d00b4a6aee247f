% spinsig and spinexit, each in a child octave-cli that reads its commands
% from standard input like a terminal session, with Ctrl-C sent to it from
% outside about a second after the command starts spinning.
1;

function [status, out] = session(commands)
  prologue = {
    'addpath(getenv(''DAP_TEST_LIB'')); dap_test_setup();'
    'warning(''off'', ''Octave:shadowed-function'');'
    'addpath(fullfile(getenv(''DAP_BUILD_DIR''), ''diagnostics''));'};
  input = [tempname() '.m'];
  fid = fopen(input, 'w');
  fprintf(fid, '%s\n', prologue{:}, commands{:});
  fclose(fid);
  % A hung child is killed rather than left spinning.
  [status, out] = system(sprintf( ...
    'timeout -s KILL 60 octave-cli --no-history --norc --quiet -i <%s 2>&1', input));
  delete(input);
end

% Sent from a process of its own, off the simulated board whose clock would
% make the second pass at once; $PPID is the child octave-cli.
ctrl_c_soon = ['system(''unset LD_PRELOAD; (sleep 1; kill -INT $PPID) ' ...
               '>/dev/null 2>&1 &'');'];

% spinsig: "Ok, bye." once per Ctrl-C, then Octave's own handling (back at the
% prompt, the rest of the line dropped) with Octave's handler in place again;
% a second call works the same.
[status, out] = session({
  'before = strtrim(dapsim(''sigint''));'
  [ctrl_c_soon ' spinsig; printf(''NOT INTERRUPTED\n'');']
  'printf(''BACK handler kept=%d\n'', strcmp(before, strtrim(dapsim(''sigint''))));'
  [ctrl_c_soon ' spinsig; printf(''NOT INTERRUPTED\n'');']
  'printf(''BACK AGAIN\n'');'});
assert(status == 0, out);
assert(numel(strfind(out, 'Ok, bye.')) == 2, out);
assert(isempty(strfind(out, 'NOT INTERRUPTED')), out);
assert(~isempty(strfind(out, 'BACK handler kept=1')), out);
assert(~isempty(strfind(out, 'BACK AGAIN')), out);
assert(strfind(out, 'Ok, bye.')(1) < strfind(out, 'BACK handler')(1), out);

% spinexit leaves SIGINT to Octave: a Ctrl-C brings it back to the prompt
% without the hook, and clearing the plug-in runs the hook, which ends the
% process there and then.
[status, out] = session({
  [ctrl_c_soon ' spinexit; printf(''NOT INTERRUPTED\n'');']
  'printf(''BACK\n'');'
  'clear spinexit; printf(''NOT ENDED\n'');'});
assert(status == 0, out);
assert(isempty(strfind(out, 'NOT INTERRUPTED')) && isempty(strfind(out, 'NOT ENDED')), out);
assert(numel(strfind(out, 'Ok, bye.')) == 1, out);
assert(strfind(out, 'BACK')(1) < strfind(out, 'Ok, bye.')(1), out);

% ... and when Octave exits with the plug-in still loaded, the hook runs too.
[status, out] = session({
  [ctrl_c_soon ' spinexit;']
  'printf(''BACK\n'');'});
assert(status == 0, out);
assert(numel(strfind(out, 'Ok, bye.')) == 1, out);
assert(strfind(out, 'BACK')(1) < strfind(out, 'Ok, bye.')(1), out);
