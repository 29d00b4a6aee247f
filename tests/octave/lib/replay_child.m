function [status, output, trace] = replay_child(code, how, session, env, setup)
  % Runs `code` in a child octave-cli on its own simulated board (dap_child),
  % either recording a session file (how = 'record': the recorder preloaded
  % ahead of the simulator, as on a rig it sits ahead of the C library) or
  % replaying one (how = 'replay', the file given by DAPSIM_REPLAY), or
  % neither (how = 'plain', `session` unused). `env` is more VAR=value words
  % for the child's environment, `setup` simulator commands run first.
  if nargin < 4
    env = '';
  end
  if nargin < 5
    setup = {};
  end
  if strcmp(how, 'record')
    recorder = fullfile(getenv('DAP_BUILD_DIR'), 'sim', 'libdaprec.so');
    preload = regexprep(getenv('LD_PRELOAD'), '([^:]*libdapsim\.so)', [recorder ':$1']);
    env = sprintf('LD_PRELOAD=%s DAPREC_FILE=%s %s', preload, session, env);
  elseif strcmp(how, 'replay')
    env = sprintf('DAPSIM_REPLAY=%s %s', session, env);
  end
  [status, output, trace] = dap_child(code, setup, env);
end
