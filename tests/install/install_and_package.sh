#!/usr/bin/env bash
# Installs the build into a scratch prefix and runs the installed octave-sim
# there; then installs the Octave package into a scratch package prefix and
# runs a command after "pkg load dap". Both on the simulated board. Nothing
# outside the scratch folder is touched: HOME points into it too.
#   install_and_package.sh <build> <package.tar.gz> <libdapsim.so> <version>
set -euo pipefail
build=$1 package=$2 library=$3 version=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME=$work/home
mkdir -p "$HOME"
fail() {
  echo "FAILED: $*" >&2
  exit 1
}

echo "== cmake --install"
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
for f in lib/dap/mex/dap_version.m lib/dap/diagnostics/hello.mex lib/dap/diagnostics/test \
         lib/dap/diagnostics/holdtimer lib/dap/sim/libdapsim.so lib/dap/sim/dapsim.mex \
         lib/dap/sim/dapsim_trace.m share/dap/dapl/shrtrec.dap bin/octave-sim; do
  [ -e "$prefix/$f" ] || fail "$f is not installed"
done
for plugin in "$build"/mex/*.mex; do
  [ -e "$prefix/lib/dap/mex/$(basename "$plugin")" ] || fail "$(basename "$plugin") is not installed"
done
[ ! -e "$prefix/lib/dap/mex/test.mex" ] || fail "the diagnostic test is in the commands' folder"

# The installed octave-sim must serve the installed DAPL folder and put the
# installed commands on the path, wherever it is run from and with nothing
# of the build tree in its environment.
printf 'let probe=7\r\n' >"$prefix/share/dap/dapl/probe.dap"
cat >"$work/installed.m" <<'EOM'
assert(strcmp(dap_version(), getenv('EXPECTED_VERSION')));
assert(~isempty(strfind(help('dap'), 'SwpRead')), 'help dap');
BrdLoad('probe');
assert(strcmp(strtrim(dapsim('variable PROBE')), '7'));
printf('%s\n', which('BrdLoad'));
EOM
mkdir "$work/elsewhere"
found=$(cd "$work/elsewhere" &&
        env -u DAP_BUILD_DIR -u DAPSIM_DAPL_DIR EXPECTED_VERSION="$version" \
            LD_PRELOAD="${DAP_OUTER_PRELOAD:-}" "$prefix/bin/octave-sim" "$work/installed.m")
[ "$found" = "$prefix/lib/dap/mex/BrdLoad.mex" ] || fail "installed octave-sim ran $found"

echo "== pkg install $(basename "$package")"
[ -f "$package" ] || fail "$package was not built"
mkdir "$work/pkg"
LD_PRELOAD=${DAP_OUTER_PRELOAD:+$DAP_OUTER_PRELOAD:}$library \
  DAP_PACKAGE=$package PKG_DIR=$work/pkg SIMCTL=$build/simctl EXPECTED_VERSION=$version \
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
    assert(strncmp(which('BrdCmd'), d, numel(d)));
    assert(~isempty(strfind(help('dap'), 'SwpRead')), 'help dap');
    BrdCmd('start laba');
    addpath(getenv('SIMCTL'));
    assert(strcmp(dapsim('written accel0'), '73 74 61 72 74 20 6c 61 62 61 0d'));
  catch err
    fprintf(2, 'FAILED: %s\n', err.message);
    exit(1);
  end"
[ -f "$work/pkg/octave_packages" ] || fail "the package list was not kept in the scratch folder"
echo ok
