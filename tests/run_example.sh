#!/usr/bin/env bash
# Runs one example script on the simulated board in a scratch folder and
# checks that it ends without error (plots go to the scratch folder).
set -u
example=$(readlink -f "$1")
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
export DAP_EXAMPLE_OUTPUT=$work
"$root/scripts/octave-sim" "$example" </dev/null
