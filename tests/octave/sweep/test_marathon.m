% marathon: argument checks, the run on the default board, and block slots
% that stay fixed when bytes come late or short.
1;
function t = tick_of(line)
  t = sscanf(line, '%d', 1);
end
function text_lines = lines_written()
  text = char(sim_written('accel0'));
  text_lines = strsplit(text(1:end-1), "\r");
end
% Runs `code` in a child octave-cli whose DAPL directory holds no marathon
% programs, so that only the bytes the test queues reach the binary channel.
% (Not dap_child: its trace file costs seconds over a 400000-tick run.)
function run_on_bare_board(code)
  folder = tempname();
  mkdir(folder);
  script = [tempname() '.m'];
  fid = fopen(script, 'w');
  fprintf(fid, 'addpath(getenv(''DAP_TEST_LIB'')); dap_test_setup();\n%s\n', code);
  fclose(fid);
  [status, output] = system(sprintf(['DAPSIM_DAPL_DIR=%s octave-cli --no-history --norc --quiet ' ...
                                     '--eval "source(''%s'')" 2>&1 </dev/null'], folder, script));
  delete(script);
  rmdir(folder);
  assert(status == 0, output);
end

usage = 'marathon usage: marathon(''A-H'')';

% Not one character: refused before the guard and before any device.
before = dapsim('sigint');
for args = {{}, {'AB'}, {65}, {'A', 'B'}, {['A'; 'B']}, {{'A'}}, {''}}
  dapsim('reset');
  failed = false;
  try
    marathon(args{1}{:});
  catch err
    failed = true;
    assert(~isempty(strfind(err.message, usage)), err.message);
  end
  assert(failed);
  assert(isempty(sim_trace('accel')));
  assert(strcmp(dapsim('sigint'), before));
end

% A letter outside A-H: drains both channels, closes them, then refuses;
% no program is sent and the guard is gone.
dapsim('reset');
dapsim('queue bin 01 02 03');
dapsim('queue text "old answer\r\n"');
failed = false;
try
  marathon('I');
catch err
  failed = true;
  assert(~isempty(strfind(err.message, usage)), err.message);
end
assert(failed);
assert(isempty(sim_written('accel0')));
assert(str2double(dapsim('pending accel1')) == 0 && str2double(dapsim('pending accel0')) == 0);
assert(numel(sim_trace('close accel')), 2);
assert(str2double(dapsim('open')) == 0);
assert(strcmp(dapsim('sigint'), before));

% A run on the default board: the program, the v1 pulse of at least 300
% ticks, 400 blocks, and the stop line last.
dapsim('reset');
data = marathon('c');
assert(size(data), [1 200000]);
program = strrep(fileread(fullfile(getenv('DAPSIM_DAPL_DIR'), 'marathonc.dap')), "\n", "\r");
text = char(sim_written('accel0'));
assert(strncmp(text, program, numel(program)));
assert(text(numel(program) + 1:end), "let v1=16384\rlet v1=0\rstop recorda,recordb\r");
up = tick_of(sim_trace('"let v1=16384'){1});
down = tick_of(sim_trace('"let v1=0'){1});
assert(down - up >= 300 && down - up <= 301, sprintf('pulse of %d ticks', down - up));
assert(isempty(sim_trace('lost')), 'the board had to drop samples');
% It looks like a recording: the answer to the pulse relaxes back to a noisy
% resting level, and no slot was left empty.
rest = mean(data(100001:end));
assert(std(data(100001:end)) > 2 && std(data(100001:end)) < 60);
assert(abs(mean(data(1:200)) - rest) > 500, 'no answer to the v1 pulse');
assert(all(any(reshape(data, 500, 400) ~= 0)), 'an empty block slot');
% The same seed gives the same run; the letter's case does not matter.
dapsim('reset');
again = marathon('C');
assert(isequal(again, data));
assert(strncmp(char(sim_written('accel0')), program, numel(program)));
dapsim('reset');
dapsim('seed 2');
assert(~isequal(marathon('c'), data));

% Queues `stream` in pieces of 10000 bytes, 10 ticks apart from tick 400, so
% that the driver's buffer never overflows.
queue_stream = [ ...
  'bytes = typecast(stream, ''uint8'');' ...
  'for k = 0:ceil(numel(bytes) / 10000) - 1,' ...
  '  piece = bytes(10000 * k + 1:min(end, 10000 * (k + 1)));' ...
  '  dapsim(sprintf(''queue bin %s at %d'', sprintf(''%02x'', piece), 400 + 10 * k));' ...
  'end;'];

% Blocks that come in time fill the slots in stream order.
run_on_bare_board([ ...
  'stream = int16(mod((0:199999) * 31, 65536) - 32768); stream(1) = -32768;' ...
  queue_stream ...
  'data = marathon(''a'');' ...
  'assert(data, double(stream));' ...
  'assert(data(1), -32768);' ...
  'assert(char(sim_written(''accel0'')), "let v1=16384\rlet v1=0\rstop recorda,recordb\r");']);

% 600 bytes at the end of block 0's wait: the slot is skipped, and block 1
% takes them followed by the next 400. With nothing more, every later slot
% runs out its window: about 66 minutes on the board's clock.
run_on_bare_board([ ...
  'dapsim(sprintf(''queue bin %s at 400'', sprintf(''%02x'', typecast(int16(1:300), ''uint8''))));' ...
  'dapsim(sprintf(''queue bin %s at 1500'', sprintf(''%02x'', typecast(int16(301:500), ''uint8''))));' ...
  'data = marathon(''b'');' ...
  'assert(all(data(1:500) == 0));' ...
  'assert(data(501:1000), 1:500);' ...
  'assert(all(data(1001:end) == 0));' ...
  't = str2double(dapsim(''clock''));' ...
  'assert(t >= 1500 + 398 * 1001 && t <= 1500 + 398 * 1001 + 5, sprintf(''ended at tick %d'', t));' ...
  'text = char(sim_written(''accel0''));' ...
  'assert(text(end-20:end), "stop recorda,recordb\r");']);

% Reads that deliver 600 of the 1000 bytes: each block is completed by the
% next read, so every slot holds its own samples and none is shifted.
run_on_bare_board([ ...
  'stream = int16(mod(0:120399, 30000));' ...
  queue_stream ...
  'dapsim(''fault shortread accel1 600'');' ...
  'data = marathon(''d'');' ...
  'assert(data(1:120000), double(stream(1:120000)));' ...
  'assert(all(data(120001:end) == 0));']);
