function output = example_output_folder()
  % Puts the plug-ins and the simulator's control command of the build tree on
  % the path (when the example is not run through octave-sim) and returns the
  % folder the example writes its plot to: $DAP_EXAMPLE_OUTPUT, or else
  % build/examples in the source tree, or else (installed examples, whose
  % folder may not be writable) dap-examples in the temporary folder.
  root = fileparts(fileparts(mfilename('fullpath')));
  build = getenv('DAP_BUILD_DIR');
  if isempty(build)
    build = fullfile(root, 'build');
  end
  if exist('dapsim') ~= 3 && exist(build, 'dir')
    addpath(fullfile(build, 'mex'));
    addpath(fullfile(build, 'simctl'));
  end
  output = getenv('DAP_EXAMPLE_OUTPUT');
  if isempty(output) && exist(build, 'dir')
    output = fullfile(build, 'examples');
  elseif isempty(output)
    output = fullfile(tempdir, 'dap-examples');
  end
  if ~exist(output, 'dir')
    mkdir(output);
  end
end
