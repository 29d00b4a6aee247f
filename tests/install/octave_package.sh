#!/usr/bin/env bash
# The Octave package as a lab machine takes it: a tarball of sources only,
# which "pkg install" compiles with this Octave's mkoctfile into a scratch
# package prefix; after "pkg load dap" every command of the build is there,
# from the package, with its help, exporting only its two entry points, and
# the rig check finds them so; a script rehearsed with dap_rehearse runs on
# the simulated board built with the package (where the rig check finds
# nothing wrong), and a failing one fails; the packaged example session
# replays exactly from the install, and a script that does not match it
# fails with status 3. A machine without the compiler is told so before
# make runs. Nothing outside the scratch folder is touched: HOME points
# into it too.
#   octave_package.sh <package.tar.gz> <build> <version>
set -euo pipefail
package=$1 build=$2 version=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME=$work/home
mkdir -p "$HOME"
fail() {
  echo "FAILED: $*" >&2
  exit 1
}

[ -f "$package" ] || fail "$package was not built"
contents=$(tar tzf "$package")
binaries=$(grep -E '\.(mex|oct|so|o|a)$|dapsim-loader$|/dapsession$' <<<"$contents" || true)
[ -z "$binaries" ] || fail "the package carries binaries: $binaries"
grep -q '^dap-[^/]*/src/Makefile$' <<<"$contents" || fail "the package has no src/Makefile"

commands=()
for plugin in "$build"/mex/*.mex; do
  commands+=("$(basename "$plugin" .mex)")
done
folder="$work/lab's scripts"
mkdir -p "$folder"
cat >"$folder/rehearsed.m" <<'EOM'
assert(dap_doctor('quiet'), 'dap_doctor on the package''s simulated board');
BrdCmd('start laba');
assert(strcmp(dapsim('written accel0'), '73 74 61 72 74 20 6c 61 62 61 0d'));
fclose(fopen('rehearsed', 'w'));
EOM
printf "error('dap:test', 'stopped here');\n" >"$folder/failing.m"

echo "== pkg install $(basename "$package")"
mkdir "$work/pkg"
# Without its compiler, the package says what to install before make runs.
CXX=no-such-c++ DAP_PACKAGE=$package PKG_DIR=$work/pkg octave-cli --no-history --norc --quiet --eval "
  d = getenv('PKG_DIR');
  pkg('prefix', fullfile(d, 'share'), fullfile(d, 'arch'));
  pkg('local_list', fullfile(d, 'octave_packages'));
  pkg('global_list', fullfile(d, 'global_packages'));
  pkg('install', '-local', getenv('DAP_PACKAGE'));" >"$work/nocompiler" 2>&1 &&
  fail "pkg install passed without a compiler"
grep -q 'lacks the C++17 compiler .*"no-such-c++".*apt-get install g++' "$work/nocompiler" ||
  fail "without a compiler: $(cat "$work/nocompiler")"
! grep -q "error running 'make'" "$work/nocompiler" || fail "make ran without a compiler"

# pkg runs make with as many jobs as nproc("overridable") says.
OMP_NUM_THREADS=2 DAP_PACKAGE=$package PKG_DIR=$work/pkg \
  EXPECTED_VERSION=$version COMMANDS="${commands[*]}" SCRIPTS="$folder" PLUGINS="$work/plugins" \
  ARCH="$work/arch" DAP_EXAMPLE_OUTPUT="$work/plots" \
  octave-cli --no-history --norc --quiet --eval "
  try
    d = getenv('PKG_DIR');
    pkg('prefix', fullfile(d, 'share'), fullfile(d, 'arch'));
    pkg('local_list', fullfile(d, 'octave_packages'));
    pkg('global_list', fullfile(d, 'global_packages'));
    pkg('install', '-local', getenv('DAP_PACKAGE'));
    installed = pkg('list');
    assert(numel(installed) == 1 && strcmp(installed{1}.name, 'dap'));
    assert(strcmp(installed{1}.version, getenv('EXPECTED_VERSION')));
    assert(isempty(which('BrdCmd')));
    pkg('load', 'dap');
    assert(strcmp(dap_version(), getenv('EXPECTED_VERSION')));
    assert(strcmp(ver('dap').Version, getenv('EXPECTED_VERSION')), 'ver');
    assert(~isempty(strfind(help('dap'), 'SwpRead')), 'help dap');
    assert(~isempty(strfind(help('dap'), 'dap_rehearse')), 'help dap names no rehearsal');
    assert(any(strcmp(lookfor('triggered'), 'SmartRead')), 'lookfor triggered');
    assert(any(strcmp(lookfor('sweep'), 'SwpRead')), 'lookfor sweep');
    % The rig check finds the package's commands built for this Octave (no
    % board here: the rest is the rig's business).
    [~, r] = dap_doctor('quiet');
    assert(strcmp(r(2).status, 'OK'), 'dap_doctor: %s', r(2).detail);
    listing = fopen(getenv('PLUGINS'), 'w');
    for name = strsplit(getenv('COMMANDS'))
      found = which(name{1});
      assert(strncmp(found, d, numel(d)) && strcmp(found(end-3:end), '.mex'), ...
             '%s is not a plug-in of the package: %s', name{1}, found);
      text = help(name{1});
      assert(strncmpi(strtrim(text), name{1}, numel(name{1})), 'help %s', name{1});
      fprintf(listing, '%s\n', found);
    end
    fclose(listing);
    manual = fullfile(installed{1}.dir, 'doc', 'sim-README.md');
    assert(exist(manual, 'file') == 2, 'no %s', manual);
    assert(~isempty(strfind(help('dapsim'), ...
           'fullfile(pkg(''list'', ''dap''){1}.dir, ''doc'', ''sim-README.md'')')), 'help dapsim');
    assert(isempty(regexp(help('dapsim'), '<build>|scripts/|sim/octave', 'once')), ...
           'help dapsim names the source tree');
    arch = fopen(getenv('ARCH'), 'w');
    fprintf(arch, '%s\n', fileparts(file_in_loadpath('libdapsim.so')));
    fclose(arch);
    examples = fullfile(pkg('list', 'dap'){1}.dir, 'examples');   % as help dap_rehearse says
    session = fullfile(examples, 'replay_sweep.ses');
    dap_rehearse('--replay', session, fullfile(examples, 'replay_sweep.m'));
    cd(getenv('SCRIPTS'));
    dap_rehearse('rehearsed.m');
    assert(exist('rehearsed', 'file') == 2, 'the rehearsed script did not run');
    for bad = {{'failing.m'}, 'dap:rehearse:failed', 'status 1:'; {3}, 'dap:usage', 'usage'; ...
               {'--replay', session, 'rehearsed.m'}, 'dap:rehearse:failed', ...
               'status 3: the replay was not exact'}'
      try
        dap_rehearse(bad{1}{:});
        error('dap_rehearse passed where it fails with %s', bad{2});
      catch err
        assert(strcmp(err.identifier, bad{2}) && ~isempty(strfind(err.message, bad{3})), ...
               err.message);
      end
    end
  catch err
    fprintf(2, 'FAILED: %s\n', err.message);
    exit(1);
  end" 2>"$work/stderr" || { cat "$work/stderr" >&2; fail "pkg install, load or rehearsal"; }
grep -q '^dapsim: replay of .*/examples/replay_sweep\.ses: exact: 1182 of 1182 recorded calls played, 0 differences$' \
  "$work/stderr" || fail "no exact verdict for the packaged session"
grep -q '^dapsim: replay of .*/examples/replay_sweep\.ses: NOT exact: ' "$work/stderr" ||
  fail "no verdict for the script that does not match the session"
# The package's octave-sim belongs to dap_rehearse; from a shell it says so.
status=0
"$(cat "$work/arch")/octave-sim" "$folder/rehearsed.m" 2>"$work/shell" || status=$?
[ "$status" -eq 1 ] && grep -q 'dap_rehearse' "$work/shell" ||
  fail "the package's octave-sim from a shell: status $status: $(cat "$work/shell")"
[ -f "$work/pkg/octave_packages" ] || fail "the package list was not kept in the scratch folder"
[ "$(wc -l <"$work/plugins")" -eq "${#commands[@]}" ] || fail "not every command was checked"
while read -r plugin; do
  exported=$(nm -D --defined-only "$plugin" | awk '{print $NF}' | sort | tr '\n' ' ')
  [ "$exported" = "mexFunction mexVersion " ] || fail "$plugin exports $exported"
done <"$work/plugins"
echo ok
