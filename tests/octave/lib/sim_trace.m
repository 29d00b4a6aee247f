function lines = sim_trace(varargin)
  % The simulated board's trace as a cell array of lines, optionally only the
  % lines that contain a pattern (the simulator's own dapsim_trace).
  lines = dapsim_trace(varargin{:});
end
