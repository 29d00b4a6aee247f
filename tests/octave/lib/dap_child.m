function [status, output, trace] = dap_child(code, setup, env, deadline)
  % Runs `code` in a child octave-cli on its own simulated board and returns
  % its exit status, everything it printed (standard output and error) and the
  % board's trace as a cell array of lines. `setup` is a list of simulator
  % control commands run first. Used where the test process itself must not
  % be interrupted or ended: Ctrl-C, process exit, standard input. `env` is
  % more VAR=value words for the child's environment. A child still running
  % after `deadline` seconds (120 unless given) has hung: it is killed and
  % the call fails, saying so.
  if nargin < 4
    deadline = 120;
  end
  if nargin < 2
    setup = {};
  end
  if nargin < 3
    env = '';
  end
  tracefile = [tempname() '.trace'];
  script = [tempname() '.m'];
  fid = fopen(script, 'w');
  fprintf(fid, 'addpath(getenv(''DAP_TEST_LIB'')); dap_test_setup();\n');
  for k = 1:numel(setup)
    fprintf(fid, 'dapsim(''%s'');\n', strrep(setup{k}, '''', ''''''));
  end
  fprintf(fid, 'dapsim(''trace clear'');\n');
  fprintf(fid, '%s\n', code);
  fclose(fid);
  cmd = sprintf('%s DAPSIM_TRACE=%s timeout -s KILL %d octave-cli --no-history --norc --quiet --eval "source(''%s'')" 2>&1 </dev/null', ...
                env, tracefile, deadline, script);
  [status, output] = system(cmd);
  if status == 128 + 9
    error('dap_child: no end within %d s (a hang) of: %s\n%s', deadline, code, output);
  end
  trace = {};
  if exist(tracefile, 'file')
    trace = strsplit(strtrim(fileread(tracefile)), "\n");
    delete(tracefile);
  end
  delete(script);
end
