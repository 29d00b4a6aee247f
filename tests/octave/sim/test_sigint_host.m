% A Ctrl-C delivered as at the terminal: Octave's own thread takes it, no
% plug-in handler runs, and the call still lets go of the board promptly.

code = ['BrdClear; printf(''SCRIPT GOES ON\n'');'];
[status, out, trace] = dap_child(code, {'sigint op 4 host'});
assert(status ~= 0, out);
assert(isempty(strfind(out, 'SCRIPT GOES ON')), out);
assert(any(strcmp(regexprep(trace, '^\d+ ', ''), 'sigint host')), strjoin(trace, "\n"));
% The drain stops at the interrupt: no pause of 0.1 s follows it.
at = find(~cellfun(@isempty, strfind(trace, 'sigint host')));
assert(isempty(strfind(strjoin(trace(at:end), "\n"), 'usleep')), strjoin(trace, "\n"));

% The default delivery runs the handler that the call installed instead.
[status, out, trace] = dap_child(code, {'sigint op 4'});
assert(status ~= 0, out);
assert(any(strcmp(regexprep(trace, '^\d+ ', ''), 'sigint')), strjoin(trace, "\n"));
assert(~isempty(strfind(out, 'Exiting MEX function.')), out);
