% Errors carry identifiers a script can catch selectively, and every one of
% them, too many outputs included, comes before the board is touched.
cases = {
  'dap:tooManyOutputs', '[a, b, c] = StimResp;',       'StimResp: too many outputs requested (at most 1)'
  'dap:tooManyOutputs', 'x = BrdClear;',               'BrdClear: too many outputs requested (it returns none)'
  'dap:usage',          'BrdCmd(5);',                  'BrdCmd: Could not convert string data.'
  'dap:usage',          'SwpRead();',                  'SwpRead: usage: SwpRead(mode)'
  'dap:usage',          'StimResp2(1:7);',             'StimResp2: StimResp2 usage: StimResp2([1 x 8 vector of thresholds])'
  'dap:badArgument',    'BrdLoad(repmat(''a'', 1, 45));', 'BrdLoad: DAPL file name too long: at most 44 characters'
  'dap:badArgument',    'TandemRead([2e6 0 0 0 0 0 0 0]);', 'TandemRead: a pulse count may be at most 1000000'
};
for k = 1:rows(cases)
  dapsim('reset');
  try
    eval(cases{k, 2});
    error('no error for %s', cases{k, 2});
  catch err
    assert(strcmp(err.identifier, cases{k, 1}), '%s: %s', cases{k, 2}, err.identifier);
    assert(strcmp(err.message, cases{k, 3}), '%s: %s', cases{k, 2}, err.message);
  end
  assert(isempty(sim_trace('accel')), 'device touched by %s', cases{k, 2});
end

% marathon refuses a bad letter only after draining, as it always has, but
% with its channels closed by the time the error is raised.
dapsim('reset');
try
  marathon('I');
  error('marathon accepted I');
catch err
  assert(strcmp(err.identifier, 'dap:badArgument'), err.identifier);
end
assert(strcmp(strtrim(dapsim('open')), '0'));

% A DAPL program that cannot be opened stays no error, as scripts rely on,
% but is said, with its path and the reason; nothing is sent in its place.
here = pwd;
scratch = tempname();
mkdir(scratch);
cd(scratch);
loads = {
  'BrdLoad(''nonexistent'')',       '/home/labrig/matlab/intrfc/dap/nonexistent.dap'
  'BrdLoadPath(''/no/such/file.dap'')', '/no/such/file.dap'
  'SwpOpen',                         'shrtrecT.dap'
};
for k = 1:rows(loads)
  dapsim('reset');
  lastwarn('');
  eval([loads{k, 1} ';']);
  [message, id] = lastwarn();
  assert(strcmp(id, 'dap:programNotFound'), '%s: %s', loads{k, 1}, id);
  assert(endsWith(message, sprintf('DAPL program "%s" could not be opened: No such file or directory', loads{k, 2})), message);
  assert(isempty(sim_trace('write accel0')), 'something sent by %s', loads{k, 1});
end
cd(here);
rmdir(scratch);

% A warning is said once per call, however many drains end the same way.
dapsim('reset');
dapsim('queue bin 0102030405060708');
dapsim('queue text 0102030405060708');
dapsim('fault readfail accel1 EIO');
dapsim('fault readfail accel0 EIO');
said = evalc('BrdClear');
assert(numel(strfind(said, 'its reads keep failing')) == 1, said);
