function h = event_record_hex(channel, time, value1, value2)
  % Hex of event records as the board sends them: channel, time low word,
  % time high word, value1, value2, each word low byte first. Arguments may
  % be vectors (one record per element).
  n = max([numel(channel), numel(time), numel(value1), numel(value2)]);
  fields = [expand(channel, n); mod(expand(time, n), 65536); floor(expand(time, n) / 65536); ...
            expand(value1, n); expand(value2, n)];
  words = mod(fields, 65536);
  bytes = [mod(words(:)', 256); floor(words(:)' / 256)];
  h = sprintf('%02x', bytes(:));
end

function v = expand(v, n)
  v = v(:)';
  if numel(v) == 1
    v = repmat(v, 1, n);
  end
end
