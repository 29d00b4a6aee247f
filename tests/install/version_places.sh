#!/usr/bin/env bash
# The version and its date, set once in CMakeLists.txt, are what every place
# that shows them says: dap_version, the Contents.m and dap.m line that
# MATLAB's "ver" reads, the Octave package's DESCRIPTION and the name of its
# tarball, the newest section of NEWS and every version the README quotes.
#   version_places.sh <source> <build> <version> <date YYYY-MM-DD>
set -euo pipefail
source=$1 build=$2 version=$3 date=$4
fail() {
  echo "FAILED: $*" >&2
  exit 1
}

[[ $version =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] || fail "version $version"
day=$(LC_ALL=C date -d "$date" +%d-%b-%Y) || fail "date $date"
said=$(DAP_MEX=$build/mex octave-cli --no-history --norc --quiet --eval "
  addpath(getenv('DAP_MEX'));
  printf('%s\n', dap_version());
  for name = {'Contents', 'dap'}
    lines = strsplit(fileread(fullfile(getenv('DAP_MEX'), [name{1} '.m'])), \"\n\");
    printf('%s\n', lines{2});
  end")
expected=$(printf '%s\n%% Version %s %s\n%% Version %s %s' "$version" "$version" "$day" "$version" "$day")
[ "$said" = "$expected" ] || fail "dap_version and Contents.m, dap.m say: $said"

grep -qx "Version: $version" "$build/package/DESCRIPTION" || fail "DESCRIPTION's version"
grep -qx "Date: $date" "$build/package/DESCRIPTION" || fail "DESCRIPTION's date"
[ -f "$build/dap-$version.tar.gz" ] || fail "no $build/dap-$version.tar.gz"
# Read to the end, not grep -q: under pipefail, a writer that outlives the
# match dies of SIGPIPE and fails the test (tar writes in 10 KiB records).
tar xzOf "$build/dap-$version.tar.gz" "dap-$version/DESCRIPTION" | grep -x "Version: $version" >/dev/null ||
  fail "the tarball's DESCRIPTION"

newest=$(grep -m1 '^Version ' "$source/NEWS")
[ "$newest" = "Version $version ($date)" ] || fail "NEWS's newest section is: $newest"

quoted=$(grep -oE "dap[- ][0-9]+\.[0-9]+\.[0-9]+|'[0-9]+\.[0-9]+\.[0-9]+'" "$source/README.md")
[ -n "$quoted" ] || fail "the README quotes no version"
others=$(grep -vF "$version" <<<"$quoted" || true)
[ -z "$others" ] || fail "the README quotes another version: $others"
echo ok
