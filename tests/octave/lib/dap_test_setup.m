function dap_test_setup()
  % Puts the production plug-ins, the simulator's control plug-in and the test
  % helpers on the path, and starts from a power-on board. The diagnostics
  % folder is never added here: its plug-in "test" would shadow Octave's own.
  build = getenv('DAP_BUILD_DIR');
  src = getenv('DAP_SOURCE_DIR');
  addpath(fullfile(build, 'mex'));
  addpath(fullfile(build, 'simctl'));
  addpath(fullfile(src, 'sim', 'octave'));
  addpath(fullfile(src, 'tests', 'octave', 'lib'));
  dapsim('reset');
end
