% holdtimer and the program "test", run from a shell as the operator would.
% Neither is on the shell's path: "test" there is the shell's own.

diag = fullfile(getenv('DAP_BUILD_DIR'), 'diagnostics');
holdtimer = fullfile(diag, 'holdtimer');
% Without the simulated board, whose clock would stand still between two
% readings of times().
shell = @(command) system(['unset LD_PRELOAD; ' command ' 2>&1']);

[status, out] = shell([fullfile(diag, 'test') ' arguments are ignored </dev/null']);
assert(out, "Hello, world\n");

% With standard input at end of file the pause is over at once.
[status, out] = shell([holdtimer ' </dev/null']);
ticks = sscanf(out, 'Paused %d hundredths of a second.\n');
assert(regexp(out, '^Paused \d+ hundredths of a second\.\n$', 'once') == 1, out);
assert(ticks <= 10, out);

% An operator who waits 2.5 s before pressing Enter, on a clock that moves only
% while the program reads (across the wrap of a 32-bit counter): the raw tick
% count, read before and after the keyboard, unscaled.
pause_clock = fullfile(getenv('DAP_BUILD_DIR'), 'tests', 'pause_clock.so');
[status, out] = shell(sprintf('PAUSE_TICKS=250 LD_PRELOAD=%s %s ignored', pause_clock, holdtimer));
assert(out, "Paused 250 hundredths of a second.\n");
[status, out] = shell(sprintf('PAUSE_TICKS=0 LD_PRELOAD=%s %s', pause_clock, holdtimer));
assert(out, "Paused 0 hundredths of a second.\n");
