function n = trace_event_count(lines)
  % How many events trace lines stand for: identical events in a row are one
  % line ending "xN".
  n = 0;
  for k = 1:numel(lines)
    r = regexp(lines{k}, ' x(\d+)$', 'tokens', 'once');
    if isempty(r)
      n += 1;
    else
      n += str2double(r{1});
    end
  end
end
