%DAPSIM  Control and inspect the simulated DAP board (trace, faults, clock)
%
%   reply = dapsim(command)
%
%   command  one control command of the simulated board, a character row.
%   reply    its answer as text ('' for most commands that change things).
%
%   Works only in an Octave (or MATLAB) started with the simulator
%   preloaded, as octave-sim starts it (octave-sim my_session.m from a
%   shell; dap_rehearse('my_session.m') in the Octave package); the
%   commands then run on the simulated board without noticing.
%   Some commands:
%     'reset'                       power-on board, clock at tick 0
%     'trace' / 'trace clear'       every device operation, with its tick
%     'written accel0'              bytes the host wrote (hex), since reset
%     'tasks', 'variable NAME'      defined tasks; a board variable
%     'played a0'                   values an output played
%     'queue bin 10 00 f0 ff'       bytes the board sends to the host
%     'fault missing accel1 2'      opens of accel1 fail with errno 2
%     'fault clear'                 removes every fault
%     'advance N', 'clock'          move / read the virtual clock (ticks)
%     'sigint op N [host]'          raise Ctrl-C after N device operations
%   Its manual, sim/README.md, describes the whole command language and
%   the trace.
%   Helpers beside it: dapsim_trace, dapsim_written, dapsim_played.
%
%   Errors (each with an identifier, as the commands' errors have):
%     dapsim:command      the simulator refused the command (unknown,
%                         malformed, out of range); the message is the
%                         reason (dapsim('bogus') gives "unknown command:
%                         bogus"), and nothing was changed;
%     dapsim:usage        not exactly one argument, or one that is not a
%                         character row ("usage: reply = dapsim('command')");
%     dapsim:badArgument  the command holds a NUL character;
%     dapsim:notLoaded    the simulator is not preloaded;
%     dapsim:outOfMemory  the command text could not be read.
%
%   Example (on the simulated board):
%     dapsim('reset');
%     BrdCmd('let gain=4');
%     dapsim('variable GAIN')   % ans = 4
%     dapsim('clock')           % the virtual clock: ans = 0
%
%   See also dapsim_trace, dapsim_written, dapsim_played.
