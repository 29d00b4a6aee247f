function bytes = dapsim_written(channel)
  % DAPSIM_WRITTEN  Every byte the host wrote to 'accel0' or 'accel1' since
  %   the board was reset, as a uint8 row.
  %
  %   Example (on the simulated board):
  %     dapsim('reset'); BrdCmd('stop');
  %     dapsim_written('accel0')   % uint8 [115 116 111 112 13]: "stop\r"
  hex = regexprep(dapsim(['written ' channel]), '\s', '');
  if isempty(hex)
    bytes = uint8([]);
  else
    bytes = uint8(hex2dec(reshape(hex, 2, []).'))';
  end
end
