function assert_guard_interrupted(out, trace)
  % What every guarded call interrupted with both channels open must show:
  % the guard's two lines once and in order, the call cut short, nothing left
  % behind, the binary channel let go before the text channel, and no device
  % used afterwards.
  lines = strsplit(out, "\n");
  closing = find(strcmp(lines, 'Closing binary and text channels to DAP.'));
  exiting = find(strcmp(lines, 'Exiting MEX function.'));
  assert(numel(closing) == 1 && numel(exiting) == 1 && closing < exiting, out);
  assert(isempty(strfind(out, 'NOT INTERRUPTED')), out);
  assert(~isempty(strfind(out, 'sigint kept=1 open=0')), out);
  rel_bin = find(~cellfun(@isempty, strfind(trace, 'release accel1')));
  rel_txt = find(~cellfun(@isempty, strfind(trace, 'release accel0')));
  assert(numel(rel_bin) == 1 && numel(rel_txt) == 1 && rel_bin < rel_txt, strjoin(trace, "\n"));
  after = trace(rel_bin + 1:end);
  assert(~any(~cellfun(@isempty, regexp(after, '(open|write|read|ioctl|close) accel[01]'))), ...
         ['device used after the interrupt: ' strjoin(after, ' | ')]);
end
