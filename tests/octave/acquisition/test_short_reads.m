% A driver whose reads come back short must not cost a single record: every
% family that collects records gets exactly what it gets from whole reads.
% The third column picks what holds records (SmartRead's ramp does not).
runs = {
  'spiker',    'SpikerInit; r = spiker;',            @(r) r
  'SmartRead', 'BrdLoad(''smart''); r = SmartRead;', @(r) r(:, 2:end)
  'StimResp2', 'r = StimResp2(zeros(1, 8));',         @(r) r
  'StimResp',  'r = StimResp;',                       @(r) r
  'marathon',  'r = marathon(''A'');',                @(r) r
};
% The clock runs slow against the polls, so that reading in pieces keeps up
% with the board as whole reads do.
for k = 1:rows(runs)
  dapsim('reset');
  dapsim('clock virtual 64');
  evalc(runs{k, 2});
  whole = r;
  assert(nnz(runs{k, 3}(whole)) > 0, '%s: no records', runs{k, 1});
  dapsim('reset');
  dapsim('clock virtual 64');
  % One byte short of every record and block, and odd: a read never ends on
  % a record's or a sample's boundary.
  dapsim('fault shortread accel1 9');
  evalc(runs{k, 2});
  assert(isequal(r, whole), '%s: records lost or shifted by short reads', runs{k, 1});
end
