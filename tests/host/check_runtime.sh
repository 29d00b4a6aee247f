#!/usr/bin/env bash
# check_runtime.sh <reference plug-in> <plug-ins...>
#
# Plug-ins linked the way the MATLAB build links them must load against the
# C++ runtime MATLAB ships, which is older than the build machine's: they may
# ask for no GLIBCXX or CXXABI version at all (libstdc++ is linked in), for
# nothing of libgcc_s newer than GCC_4.2.0 (GCC 4.2, 2007), and for no newer C
# library than the reference (a plug-in of the ordinary build) asks for.
set -u
gcc_floor=4.2.0
[ $# -gt 1 ] || { echo "usage: $0 <reference plug-in> <plug-ins...>"; exit 1; }
versions_of() {
  objdump -T "$1" | grep -o '(\(GLIBCXX\|CXXABI\|GCC\|GLIBC\)_[0-9.]*)' | tr -d '()' | sort -u
}
newest() { grep "^$1_" | sed "s/^$1_//" | sort -V | tail -1; }
newer() { [ -n "$1" ] && [ "$(printf '%s\n%s\n' "$1" "$2" | sort -V | tail -1)" != "$2" ]; }

glibc_floor=$(versions_of "$1" | newest GLIBC)
shift
status=0
for f in "$@"; do
  versions=$(versions_of "$f")
  cxx=$(grep -E '^(GLIBCXX|CXXABI)_' <<<"$versions" | tr '\n' ' ')
  if [ -n "$cxx" ]; then
    echo "FAIL $(basename "$f") needs the C++ runtime: $cxx"
    status=1
  fi
  gcc=$(newest GCC <<<"$versions")
  if newer "$gcc" "$gcc_floor"; then
    echo "FAIL $(basename "$f") needs GCC_$gcc of libgcc_s (newer than GCC_$gcc_floor)"
    status=1
  fi
  glibc=$(newest GLIBC <<<"$versions")
  if newer "$glibc" "$glibc_floor"; then
    echo "FAIL $(basename "$f") needs GLIBC_$glibc, newer than the ordinary build's GLIBC_$glibc_floor"
    status=1
  fi
done
[ $status -eq 0 ] &&
  echo "all $# plug-ins: no GLIBCXX/CXXABI, libgcc_s at most GCC_$gcc_floor, C library at most GLIBC_$glibc_floor"
exit $status
