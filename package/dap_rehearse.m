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
%   them): '--replay SESSION' plays a session file recorded on the rig. The
%   simulated board serves its DAPL directory from the package's sample
%   files, or from the folder DAPSIM_DAPL_DIR names (setenv it to a copy of
%   the lab's own). In the script, dapsim controls and inspects the board;
%   its manual is doc/sim-README.md in the package's folder (pkg list dap).
%
%   Errors:
%     dap:usage              an argument is not one character row;
%     dap:rehearse:missing   the package's simulated board is not installed;
%     dap:rehearse:failed    the run ended with an error (the script's own
%                            error is shown above it) or could not start.
%
%   Example:
%      dap_rehearse('sweep_session.m');  % runs it on the simulated board
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
    error('dap:rehearse:failed', 'the rehearsal ended with exit status %d', status);
  end
end

function text = quoted(text)
  % One word for the shell, whatever it holds.
  text = ['''' strrep(text, '''', '''\''''') ''''];
end
