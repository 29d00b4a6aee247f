#!/usr/bin/env bash
# A build configured as a lab would (no options) compiles nothing with
# -Werror, nor does the Octave package; DAP_WERROR=ON, as the project's own
# checks configure, puts it on every compile.
#   default_warnings.sh <source dir>
set -euo pipefail
source_dir=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAILED: $*" >&2
  exit 1
}
configure() {
  cmake -S "$source_dir" -B "$work/build" -G Ninja -DDAP_BUILD_TESTS=OFF -DDAP_BUILD_BENCH=OFF \
        -DCMAKE_EXPORT_COMPILE_COMMANDS=ON "$@" >"$work/configure.log" 2>&1 ||
    { cat "$work/configure.log" >&2; fail "configure $*"; }
}

configure
commands=$work/build/compile_commands.json
grep -q '"command"' "$commands" || fail "no compile commands"
! grep -q -- '-Werror' "$commands" || fail "a default build compiles with -Werror"
# pkg install builds the Octave package with package/Makefile.
makefile=$source_dir/package/Makefile
[ -f "$makefile" ] || fail "no $makefile"
! grep -q -- '-Werror' "$makefile" || fail "the package's Makefile compiles with -Werror"

configure -DDAP_WERROR=ON
total=$(grep -c '"command"' "$commands")
with=$(grep -c -- '-Werror ' "$commands")
[ "$total" -eq "$with" ] || fail "DAP_WERROR=ON: $with of $total compiles with -Werror"
echo ok
