function bytes = dapsim_written(channel)
  % DAPSIM_WRITTEN  Every byte the host wrote to 'accel0' or 'accel1' since
  %   the board was reset, as a uint8 row.
  hex = regexprep(dapsim(['written ' channel]), '\s', '');
  if isempty(hex)
    bytes = uint8([]);
  else
    bytes = uint8(hex2dec(reshape(hex, 2, []).'))';
  end
end
