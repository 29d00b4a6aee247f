function lines = sim_trace(pattern)
  % The simulated board's trace as a cell array of lines, optionally only the
  % lines that contain `pattern`.
  text = strtrim(dapsim('trace'));
  if isempty(text)
    lines = {};
  else
    lines = strsplit(text, "\n");
  end
  if nargin > 0
    lines = lines(~cellfun(@isempty, strfind(lines, pattern)));
  end
end
