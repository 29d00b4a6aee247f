function values = dapsim_played(output)
  % DAPSIM_PLAYED  What an analog output of the simulated board played.
  %   values = dapsim_played('a0') returns the values as a double row, in the
  %   order the board played them (empty when nothing was played).
  %
  %   Example (on the simulated board):
  %     dapsim('reset'); PairInit; PairStart; PairSend((1:40)');
  %     dapsim('advance 10');
  %     dapsim_played('a0')   % the odd entries as a0 played them: 1 3 5 ...
  text = strtrim(dapsim(['played ' output]));
  if isempty(text)
    values = zeros(1, 0);
  else
    values = str2double(strsplit(text, ' '));
  end
end
