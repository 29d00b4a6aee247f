% WaveOut: reset, the inline output definition, one table, and "STOP\r" once
% standard input answers (at end of input: at once).
definition = ["pdef elstima\r" "separate ($binin,opipe(0,1))\r" "end\r" "odef elstimb 2\r" ...
              "outputwait 602\r" "update burst\r" "set op0 a0\r" "set op1 a1\r" "time 5\r" ...
              "end\r" "START\r"];

% Standard input at end of file. The first call plays a ramp; the second
% checks the printed entries and a table of zeros.
code = ['ramp = [(-300:299) * 100, -3.5, 70000];' ...
        'WaveOut(ramp); dapsim(''advance 5'');' ...
        'printf(''a0=%s\n'', dapsim(''played a0'')); printf(''a1=%s\n'', dapsim(''played a1''));' ...
        'printf(''text=%s\n'', dapsim(''written accel0''));' ...
        'dapsim(''reset''); WaveOut(repmat(0.9, 1, 602));' ...
        'printf(''bin=%s\n'', dapsim(''written accel1'')); printf(''open=%s\n'', dapsim(''open''));'];
[status, out, trace] = dap_child(code);
assert(status, 0, out);
% What is printed, and when: the entries before any channel opens.
assert(~isempty(strfind(out, sprintf('-3 4464\n1204 bytes transferred\n'))), out);
assert(~isempty(strfind(out, sprintf('0 0\n1204 bytes transferred\n'))), out);
% The board dealt the table alternately to a0 and a1.
ramp = int16([(-300:299) * 100, -3, 4464]);
a0 = sscanf(regexp(out, 'a0=([^\n]*)', 'tokens', 'once'){1}, '%d')';
a1 = sscanf(regexp(out, 'a1=([^\n]*)', 'tokens', 'once'){1}, '%d')';
assert(a0, double(ramp(1:2:end)));
assert(a1, double(ramp(2:2:end)));
text = regexp(out, 'text=([^\n]*)', 'tokens', 'once'){1};
expected = sprintf('%02x', double(["\rRESET\r" definition "STOP\r"]));
assert(regexprep(text, '\s', ''), expected);
bin = regexprep(regexp(out, 'bin=([^\n]*)', 'tokens', 'once'){1}, '\s', '');
assert(bin, repmat('0', 1, 2408));
assert(strtrim(regexp(out, 'open=([^\n]*)', 'tokens', 'once'){1}), '0');
% The stop line follows the table straight away: nobody had to answer.
ticks = cellfun(@(l) sscanf(l, '%d', 1), trace);
table = find(~cellfun(@isempty, strfind(trace, 'write accel1 1204')), 1);
stop = find(~cellfun(@isempty, strfind(trace, 'STOP')), 1);
assert(stop > table && ticks(stop) - ticks(table) <= 1, strjoin(trace, "\n"));

% An operator's answer: exactly one character is taken from standard input.
script = [tempname() '.m'];
fid = fopen(script, 'w');
fprintf(fid, 'addpath(getenv(''DAP_TEST_LIB'')); dap_test_setup();\n');
fprintf(fid, 'WaveOut(zeros(1, 602)); rest = fread(stdin, Inf, ''char=>char'')'';\n');
fprintf(fid, 'printf(''rest=[%%s] stop=%%d\\n'', rest, numel(strfind(regexprep(dapsim(''written accel0''), ''\\s'', ''''), ''53544f500d'')));\n');
fclose(fid);
[status, out] = system(sprintf('printf "xyz" | octave-cli --no-history --norc --quiet --eval "source(''%s'')" 2>&1', script));
delete(script);
assert(status, 0, out);
assert(~isempty(strfind(out, 'rest=[yz] stop=1')), out);

% Ctrl-C while the output plays ends the wait for an answer, not the output
% alone: the board is told to stop at once, whichever way the interrupt came
% (the operator's answer would only come 20 s later).
for how = {'', ' host'}
  tracefile = [tempname() '.trace'];
  script = [tempname() '.m'];
  fid = fopen(script, 'w');
  fprintf(fid, 'addpath(getenv(''DAP_TEST_LIB'')); dap_test_setup(); dapsim(''sigint op 19%s'');\n', how{1});
  fprintf(fid, 'WaveOut(zeros(1, 602));\n');
  fclose(fid);
  started = tic;
  [status, out] = system(sprintf('DAPSIM_TRACE=%s bash -c "octave-cli --no-history --norc --quiet --eval \\"source(''%s'')\\" < <(sleep 20)" 2>&1', tracefile, script));
  waited = toc(started);
  trace = strsplit(strtrim(fileread(tracefile)), "\n");
  delete(script); delete(tracefile);
  assert(waited < 10, 'WaveOut waited for the answer after Ctrl-C%s', how{1});
  stop = find(~cellfun(@isempty, strfind(trace, 'STOP')), 1);
  sigint = find(~cellfun(@isempty, strfind(trace, ' sigint')), 1);
  assert(!isempty(stop) && stop > sigint, strjoin(trace, "\n"));
  assert(isempty(strfind(out, 'Closing binary')), out);
end

% Arguments that are refused before anything is printed or opened.
bad = {{}, {zeros(1, 601)}, {complex(zeros(1, 602))}, {'x'}};
for k = 1:numel(bad)
  dapsim('reset');
  try
    out = evalc('WaveOut(bad{k}{:})');
    error('argument %d accepted', k);
  catch err
    assert(~isempty(strfind(err.message, 'usage: WaveOut')), err.message);
  end
  assert(isempty(sim_trace('accel')));
end
