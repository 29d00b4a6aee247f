function [status, output, trace] = replay_child(code, how, session, env)
  % Runs `code` in a child octave-cli on its own simulated board, either
  % recording a session file (how = 'record': the recorder preloaded ahead of
  % the simulator, as on a rig it sits ahead of the C library) or replaying
  % one (how = 'replay', the file given by DAPSIM_REPLAY), or neither
  % (how = 'plain', `session` unused). `env` is more
  % VAR=value words for the child's environment. Returns the exit status,
  % everything the child printed and the board's trace as a cell array.
  if nargin < 4
    env = '';
  end
  tracefile = [tempname() '.trace'];
  script = [tempname() '.m'];
  fid = fopen(script, 'w');
  fprintf(fid, 'addpath(getenv(''DAP_TEST_LIB'')); dap_test_setup();\n');
  fprintf(fid, 'dapsim(''trace clear'');\n%s\n', code);
  fclose(fid);
  preload = getenv('LD_PRELOAD');
  if strcmp(how, 'record')
    recorder = fullfile(getenv('DAP_BUILD_DIR'), 'sim', 'libdaprec.so');
    preload = regexprep(preload, '([^:]*libdapsim\.so)', [recorder ':$1']);
    env = sprintf('DAPREC_FILE=%s %s', session, env);
  elseif strcmp(how, 'replay')
    env = sprintf('DAPSIM_REPLAY=%s %s', session, env);
  end
  cmd = sprintf(['LD_PRELOAD=%s DAPSIM_TRACE=%s %s octave-cli --no-history --norc --quiet ' ...
                 '--eval "source(''%s'')" 2>&1 </dev/null'], preload, tracefile, env, script);
  [status, output] = system(cmd);
  trace = {};
  if exist(tracefile, 'file')
    trace = strsplit(strtrim(fileread(tracefile)), "\n");
    delete(tracefile);
  end
  delete(script);
end
