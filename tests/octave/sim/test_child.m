% A child of Octave that ends during a call: Octave's own signal thread takes
% the SIGCHLD and raises its flag, the simulator sees that at once (it would
% otherwise wait a second), and the script goes on: a child's end is no
% Ctrl-C. The board loader's stand-in is such a child too.
dapsim('child tick 2');
started = tic();
assert(dapsim('advance 5'), '5');
assert(toc(started) < 0.5, sprintf('the call waited %.2f s for Octave to see the child end', toc(started)));
assert(any(strcmp(sim_trace('child'), '2 child')), strjoin(sim_trace(), "\n"));

dapsim('loader exit 2');
started = tic();
status = system('/usr/src/linux/drivers/dap/comload /dosc/labrig/dap/getspike.bin -s1000 2>/dev/null');
assert(toc(started) < 0.5, sprintf('the loader took %.2f s', toc(started)));
assert(status, 2);
assert(strtrim(dapsim('loaded')), '0');
