function stop = watchdog(seconds, reason)
  % Ends this Octave, with `reason` on its standard error, unless the
  % function it returns is called within `seconds` of real time: a test that
  % guards against a hang then fails by itself, with its reason, instead of
  % running into ctest's timeout. The sleep runs without the simulated board
  % (whose clock would end it at once) and holds none of the test's output
  % open, so that a test that passes is not kept waiting for it.
  [~, pid] = system(sprintf(['LD_PRELOAD= sh -c ''sleep %d; ' ...
                             'echo "FAILED: %s: no return within %d s" >/proc/%d/fd/2; ' ...
                             'kill -KILL %d'' </dev/null >/dev/null 2>&1 & echo $!'], ...
                            seconds, reason, seconds, getpid(), getpid()));
  pid = strtrim(pid);
  pid = pid(find(pid == "\n", 1, 'last') + 1:end);
  stop = @() system(['kill ' pid ' 2>/dev/null']);
end
