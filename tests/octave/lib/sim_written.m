function bytes = sim_written(channel)
  % Every byte the host wrote to 'accel0' or 'accel1' since the board reset,
  % as a row of uint8 (the simulator's own dapsim_written).
  bytes = dapsim_written(channel);
end
