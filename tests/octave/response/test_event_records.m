% How StimResp and StimResp2 sort the board's event records into the event
% matrix. The child board has no DAPL files, so only the records scripted
% here arrive, timed from each start line: StimResp's pass one collects from
% about 0 to 2000 ticks after it, pass two to 4000, pass three to 6000;
% StimResp2's one window ends at 1100.
start_line = 'start stimrespa,stimrespb,ledstim2a,ledstim2b';
rule = @(after, hex) sprintf('rule "%s" after %d bin %s', start_line, after, hex);
setup = {
  % the first event of channel 3: both time words, both values signed
  rule(1, event_record_hex(3, 65538, 65535, 5))
  % a high time word of 0x8000 is still a positive time; extreme values
  rule(1, event_record_hex(4, 2147483648, 32768, 32767))
  % channels the matrix has no column for, then one it has
  rule(2, event_record_hex([9 -1 32767 -32768], 77, 1, 1))
  rule(2, event_record_hex(5, 1, 11, 12))
  rule(3, event_record_hex(5, 2, 21, 22))
  rule(4500, event_record_hex(5, 3, 31, 32))
  % 105 events of channel 2 in one go, then one of channel 6 behind them
  rule(10, event_record_hex(2, 1:105, 1:105, 0))
  rule(10, event_record_hex(6, 999, 6, 6))
  % channel 7 reaches the cap in pass two
  rule(20, event_record_hex(7, 1:60, 7, 7))
  rule(2500, event_record_hex(7, 101:160, 7, 7))
  % a record only half arrived when pass one closes is finished in pass two
  rule(1995, event_record_hex(0, 4242, 1, 2)(1:10))
  rule(2100, event_record_hex(0, 4242, 1, 2)(11:20))
};
empty_dapl = tempname();
mkdir(empty_dapl);
result = [tempname() '.mat'];
setenv('DAPSIM_DAPL_DIR', empty_dapl);
[status, output, trace] = dap_child(sprintf([ ...
  'before = str2double(dapsim(''clock''));\n' ...
  'R = StimResp();\n' ...
  'ticks = str2double(dapsim(''clock'')) - before;\n' ...
  'before = str2double(dapsim(''clock''));\n' ...
  'R2 = StimResp2(zeros(1, 8));\n' ...
  'ticks2 = str2double(dapsim(''clock'')) - before;\n' ...
  'save(''-binary'', ''%s'', ''R'', ''ticks'', ''R2'', ''ticks2'');\n'], result), setup);
assert(status == 0, output);
load(result);
delete(result);
rmdir(empty_dapl);

expected = zeros(300, 9);
expected(1:3, 4) = [65538; -1; 5];
expected(1:3, 5) = [2147483648; -32768; 32767];
expected(1:9, 6) = [1; 11; 12; 2; 21; 22; 3; 31; 32];
expected(1:3:300, 3) = 1:100;
expected(2:3:300, 3) = 1:100;
expected(1:3, 7) = [999; 6; 6];
expected(1:3:300, 8) = [1:60, 101:140];
expected(2:3:300, 8) = 7;
expected(3:3:300, 8) = 7;
expected(1:3, 1) = [4242; 1; 2];
assert(size(R), [300 9]);
for c = 1:9
  assert(R(:, c), expected(:, c), sprintf('StimResp column %d', c));
end
% three full windows and the closing wait, even though the board sent
% nothing after pass three began
assert(ticks >= 6020 && ticks < 6100, sprintf('StimResp lasted %d ticks', ticks));

% StimResp2 takes only what arrives in its one window
expected(7:9, 6) = 0;
expected(181:300, 8) = 0;
expected(1:3, 1) = 0;
for c = 1:9
  assert(R2(:, c), expected(:, c), sprintf('StimResp2 column %d', c));
end
assert(ticks2 >= 1120 && ticks2 < 1200, sprintf('StimResp2 lasted %d ticks', ticks2));
% a board without its program still gets the whole run: three tables, then
% one
assert(numel(trace(~cellfun(@isempty, regexp(trace, 'write accel1 1004 ')))), 4);
