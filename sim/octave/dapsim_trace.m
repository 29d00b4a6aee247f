function lines = dapsim_trace(pattern)
  % DAPSIM_TRACE  The simulated board's trace as a cell array of lines.
  %   lines = dapsim_trace() returns every event, oldest first.
  %   lines = dapsim_trace(pattern) keeps the lines that contain pattern.
  %
  %   Example (on the simulated board):
  %     dapsim('reset'); BrdCmd('stop');
  %     dapsim_trace('write accel0')   % {'0 write accel0 5 "stop\r" -> 5'}
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
