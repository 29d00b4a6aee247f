function dap_rehearse(varargin)
%DAP_REHEARSE  Rehearse an experiment script on the simulated DAP board
%
%   dap_rehearse('my_session.m')
%   dap_rehearse('--replay', 'rig.ses', 'my_session.m')
%   dap_rehearse
%
%   Runs the script in a new Octave on the simulated DAP board that comes
%   with this package: the same commands, the same shapes of results, no
%   hardware. The script runs from its own folder, as run() would, and the
%   simulator's banner "dapsim: simulated DAP board (no hardware is used)"
%   says the run was simulated. Without a script, an Octave prompt on the
%   simulated board; leave it with "exit".
%
%   The arguments are those of octave-sim (dap_rehearse('--help') lists
%   them): '--replay SESSION' plays a session file recorded on the rig and
%   ends with the replay's verdict on standard error ("dapsim: replay of
%   FILE: exact: ..."). The simulated board serves its DAPL directory from
%   the package's sample files (dapl/ in the package's folder), or from the
%   folder DAPSIM_DAPL_DIR names (setenv it to a copy of the lab's own). In
%   the script, dapsim controls and inspects the board; its manual is
%   doc/sim-README.md in the package's folder.
%
%   The package's folder is pkg('list', 'dap'){1}.dir. Its examples/
%   holds an example script of each family of commands, and replay_sweep.m
%   with the session it replays, replay_sweep.ses; they write their plots
%   to $DAP_EXAMPLE_OUTPUT, or else to dap-examples in tempdir.
%
%   Errors:
%     dap:usage              an argument is not one character row;
%     dap:rehearse:missing   the package's simulated board is not installed;
%     dap:rehearse:failed    the run did not end well; the message gives
%                            octave-sim's exit status and what it means:
%                            1 the script ended with an error (shown above)
%                            or the run could not start, 2 a usage error,
%                            3 the replay was not exact, 4 the session file
%                            was refused and nothing ran, 5 the session is
%                            unfinished (its recording was killed) and every
%                            recorded call played exactly, the script going
%                            on past its end, 128 + N Octave was killed by
%                            signal N.
%
%   Example:
%      examples = fullfile(pkg('list', 'dap'){1}.dir, 'examples');
%      dap_rehearse(fullfile(examples, 'sweep_session.m'));
%      % four sweeps printed, the plot in tempdir/dap-examples
%      dap_rehearse('--replay', fullfile(examples, 'replay_sweep.ses'), ...
%                   fullfile(examples, 'replay_sweep.m'));
%      % the recorded sweeps, then "dapsim: replay of ...: exact: ..."
%
%   See also dapsim, dapsim_trace, dap_version.
  for k = 1:nargin
    if ~ischar(varargin{k}) || (~isempty(varargin{k}) && ~isrow(varargin{k}))
      error('dap:usage', 'usage: dap_rehearse([options,] [script])');
    end
  end
  % The simulator and its launcher were built into the package's
  % architecture folder, which "pkg load dap" put on the path.
  library = file_in_loadpath('libdapsim.so');
  if isempty(library)
    error('dap:rehearse:missing', ...
          'the simulated board is not installed with this package (no libdapsim.so on the path)');
  end
  arch = fileparts(library);
  here = fileparts(mfilename('fullpath'));
  launcher = fullfile(arch, 'octave-sim');
  command = quoted(launcher);
  for k = 1:nargin
    command = [command ' ' quoted(varargin{k})];
  end
  % The launcher puts the package's folders on the child's path and serves
  % the package's DAPL files unless DAPSIM_DAPL_DIR names others.
  restore = {'DAP_PACKAGE_PATH', getenv('DAP_PACKAGE_PATH'); ...
             'DAP_PACKAGE_DAPL', getenv('DAP_PACKAGE_DAPL')};
  setenv('DAP_PACKAGE_PATH', [arch pathsep here]);
  setenv('DAP_PACKAGE_DAPL', fullfile(here, 'dapl'));
  status = system(command);
  for k = 1:rows(restore)
    if isempty(restore{k, 2})
      unsetenv(restore{k, 1});
    else
      setenv(restore{k, 1}, restore{k, 2});
    end
  end
  if status ~= 0
    error('dap:rehearse:failed', 'the rehearsal ended with exit status %d: %s', status, ...
          meaning(status));
  end
end

function text = meaning(status)
  switch status
    case 1
      text = 'the script ended with an error, or the run could not start';
    case 2
      text = 'a usage error';
    case 3
      text = 'the replay was not exact (its verdict is above)';
    case 4
      text = 'the session file was refused; nothing ran';
    case 5
      text = ['the session is unfinished: every recorded call played exactly, ' ...
              'and the script went on past its end (its verdict is above)'];
    otherwise
      if status > 128
        text = sprintf('Octave was killed by signal %d', status - 128);
      else
        text = 'octave-sim failed';
      end
  end
end

function text = quoted(text)
  % One word for the shell, whatever it holds.
  text = ['''' strrep(text, '''', '''\''''') ''''];
end
