#!/usr/bin/env bash
# Installs the build into a scratch prefix and runs the installed octave-sim
# there, on the simulated board. Nothing outside the scratch folder is
# touched: HOME points into it too.
#   install_prefix.sh <source> <build> <version>
set -euo pipefail
source=$1 build=$2 version=$3
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
for f in lib/dap/mex/dap_version.m lib/dap/mex/dap_doctor.m lib/dap/diagnostics/hello.mex lib/dap/diagnostics/test \
         lib/dap/diagnostics/holdtimer lib/dap/sim/libdapsim.so lib/dap/sim/dapsim.mex \
         lib/dap/sim/dapsim_trace.m share/dap/dapl/shrtrec.dap bin/octave-sim \
         share/doc/dap/README.md; do
  [ -e "$prefix/$f" ] || fail "$f is not installed"
done
for plugin in "$build"/mex/*.mex; do
  [ -e "$prefix/lib/dap/mex/$(basename "$plugin")" ] || fail "$(basename "$plugin") is not installed"
done
[ ! -e "$prefix/lib/dap/mex/test.mex" ] || fail "the diagnostic test is in the commands' folder"
manual=$prefix/share/doc/dap/sim-README.md
cmp -s "$source/sim/README.md" "$manual" || fail "the simulator's manual is not installed as $manual"
# MATLAB's "ver" reads the version from the second line of Contents.m.
sed -n 2p "$prefix/lib/dap/mex/Contents.m" | grep -E "^% Version $version [0-9]{2}-[A-Z][a-z]{2}-[0-9]{4}\$" >/dev/null ||
  fail "Contents.m has no version line for $version"

# The installed octave-sim must serve the installed DAPL folder and put the
# installed commands on the path, wherever it is run from and with nothing
# of the build tree in its environment.
printf 'let probe=7\r\n' >"$prefix/share/dap/dapl/probe.dap"
cat >"$work/installed.m" <<'EOM'
assert(strcmp(dap_version(), getenv('EXPECTED_VERSION')));
assert(~isempty(strfind(help('dap'), 'SwpRead')), 'help dap');
assert(~isempty(strfind(help('dapsim'), getenv('EXPECTED_MANUAL'))), 'help dapsim names its manual');
assert(dap_doctor('quiet'), 'dap_doctor on the installed tree');
BrdLoad('probe');
assert(strcmp(strtrim(dapsim('variable PROBE')), '7'));
printf('%s\n', which('BrdLoad'));
EOM
mkdir "$work/elsewhere"
found=$(cd "$work/elsewhere" &&
        env -u DAP_BUILD_DIR -u DAPSIM_DAPL_DIR EXPECTED_VERSION="$version" EXPECTED_MANUAL="$manual" \
            LD_PRELOAD="${DAP_OUTER_PRELOAD:-}" "$prefix/bin/octave-sim" "$work/installed.m")
[ "$found" = "$prefix/lib/dap/mex/BrdLoad.mex" ] || fail "installed octave-sim ran $found"

echo ok
