function bytes = sim_written(channel)
  % Every byte the host wrote to 'accel0' or 'accel1' since the board reset,
  % as a row of uint8.
  hex = regexprep(dapsim(['written ' channel]), '\s', '');
  bytes = uint8(hex2dec(reshape(hex, 2, []).'))';
  if isempty(hex)
    bytes = uint8([]);
  end
end
