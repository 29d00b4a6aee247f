#!/usr/bin/env bash
# The MATLAB build, configured with -DMatlab_ROOT_DIR as a lab user would,
# against a stand-in MATLAB (matlab_standin.sh) through CMake's own
# FindMatlab: one folder of plug-ins with their help, Contents.m, dap.m,
# dap_version.m and dap_doctor.m, the diagnostics in its diagnostics/, all installed by
# "cmake --install"; each plug-in exports what MATLAB looks for and nothing
# else. Then a MATLAB whose mex.h defines a poisoned name as a macro and
# whose version source defines mexVersion still builds a command, with its
# build stamp.
#   matlab_build.sh <source dir> <Octave build dir>
set -euo pipefail
source_dir=$1 octave_build=$2
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAILED: $*" >&2
  exit 1
}
configure() { # <stand-in root> <build dir>
  cmake -S "$source_dir" -B "$2" -G Ninja -DMatlab_ROOT_DIR="$1" -DCMAKE_BUILD_TYPE=Debug \
        -DDAP_BUILD_TESTS=OFF -DDAP_BUILD_BENCH=OFF -DDAP_WERROR=ON >"$2.log" 2>&1 || { cat "$2.log" >&2; fail "configure"; }
  grep -q "MATLAB 9.13 at $1" "$2.log" || { cat "$2.log" >&2; fail "MATLAB was not found"; }
}

echo "== the MATLAB folder"
"$here/matlab_standin.sh" "$work/matlab"
configure "$work/matlab" "$work/build"
cmake --build "$work/build" --target dap_matlab >"$work/build.log" 2>&1 ||
  { tail -40 "$work/build.log" >&2; fail "build"; }
prefix=$work/prefix
cmake --install "$work/build" --prefix "$prefix" --component matlab >/dev/null
folder=$prefix/lib/dap/matlab
[ -z "$(find "$prefix" -mindepth 1 -not -path "$prefix/lib*")" ] || fail "more than the MATLAB folder installed"
commands=0
for plugin in "$octave_build"/mex/*.mex; do
  name=$(basename "$plugin" .mex)
  [ -f "$folder/$name.mexa64" ] || fail "$name.mexa64 is not installed"
  help=$(ls "$source_dir"/commands/*/"$name.m" "$source_dir/diagnostics/doctor/$name.m" 2>/dev/null || true)
  cmp -s "$help" "$folder/$name.m" || fail "$name.m is not installed"
  commands=$((commands + 1))
done
[ "$(find "$folder" -name '*.mexa64' | wc -l)" -eq $((commands + 5)) ] || fail "other plug-ins installed"
for f in Contents.m dap.m dap_version.m dap_doctor.m diagnostics/hello.mexa64 diagnostics/hello.m \
         diagnostics/spinsig.mexa64; do
  [ -f "$folder/$f" ] || fail "$f is not installed"
done
cmp -s "$folder/Contents.m" "$folder/dap.m" || fail "dap.m is not the folder's contents"
[ ! -e "$folder/test.mexa64" ] || fail "the diagnostic test is in the commands' folder"
exports=$(nm -D --defined-only "$folder/SwpRead.mexa64" | awk '{print $3}' | sort | tr '\n' ' ')
[ "$exports" = "mexFunction mexVersion mexfilerequiredapiversion " ] || fail "SwpRead.mexa64 exports $exports"

echo "== a mex.h with a poisoned name as a macro, a version source with mexVersion"
"$here/matlab_standin.sh" "$work/matlab2" poisoned-macro old-version-source
configure "$work/matlab2" "$work/build2"
grep -q "without the poison" "$work/build2.log" || fail "the poisoned macro was not noticed"
cmake --build "$work/build2" --target matlab_BrdCmd >"$work/build2.log" 2>&1 ||
  { tail -40 "$work/build2.log" >&2; fail "build with the poisoned macro"; }
version=$(nm -D --defined-only "$work/build2/matlab/BrdCmd.mexa64" | grep -c ' mexVersion$')
[ "$version" -eq 1 ] || fail "mexVersion defined $version times"
# ... and carries the build stamp the rig check reads.
grep -aq 'dap-build [0-9.]* matlab' "$work/build2/matlab/BrdCmd.mexa64" || fail "BrdCmd.mexa64 has no build stamp"
echo ok
