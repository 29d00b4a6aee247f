% Every way of calling StimResp2 wrongly ends with its usage message before
% the guard is installed or a channel is opened.
usage = 'StimResp2 usage: StimResp2([1 x 8 vector of thresholds])';
before = dapsim('sigint');
bad = {
  {(1:8)'}                 % a column
  {1:7}                    % too short
  {1:9}                    % too long
  {(1:8) + 1i}             % complex
  {'abcdefgh'}             % text
  {int16(1:8)}             % not double
  {sparse(1:8)}            % sparse: fewer values than its size
  {single(1:8)}
  {zeros(1, 8, 1, 2)}
  {}                       % nothing
  {1:8, 1:8}               % two arguments
};
for k = 1:numel(bad)
  args = bad{k};
  try
    R = StimResp2(args{:});
    error('case %d: no usage error', k);
  catch err
    assert(!isempty(strfind(err.message, usage)), sprintf('case %d: %s', k, err.message));
  end
  assert(!exist('R', 'var'), sprintf('case %d: a result was set', k));
end
assert(isempty(sim_trace('accel')), 'a device was touched');
assert(dapsim('sigint'), before);
