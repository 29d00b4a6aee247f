function output = example_output_folder()
  % Puts the plug-ins and the simulator's control command on the path (when
  % the example is not run through scripts/octave-sim) and returns the folder
  % the example writes its plot to: $DAP_EXAMPLE_OUTPUT, or else build/examples.
  root = fileparts(fileparts(mfilename('fullpath')));
  build = getenv('DAP_BUILD_DIR');
  if isempty(build)
    build = fullfile(root, 'build');
  end
  addpath(fullfile(build, 'mex'));
  addpath(fullfile(build, 'simctl'));
  output = getenv('DAP_EXAMPLE_OUTPUT');
  if isempty(output)
    output = fullfile(build, 'examples');
  end
  if ~exist(output, 'dir')
    mkdir(output);
  end
end
