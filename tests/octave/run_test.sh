#!/usr/bin/env bash
# Runs one end-to-end test file in a fresh octave-cli on the simulated board.
# The test runs in a scratch folder; any error fails it.
set -u
test_file=$(readlink -f "$1")
: "${DAP_BUILD_DIR:?}" "${DAPSIM_LIBRARY:?}" "${DAP_SOURCE_DIR:?}"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
export LD_PRELOAD=$DAPSIM_LIBRARY
export DAP_TEST_LIB=$DAP_SOURCE_DIR/tests/octave/lib
# A file that has not ended within the bound has hung: it fails saying so,
# before ctest's own timeout would end it without a word.
bound=240
timeout -s KILL "$bound" octave-cli --no-history --norc --quiet --eval "
  addpath(getenv('DAP_TEST_LIB')); dap_test_setup();
  try
    source('$test_file');
  catch err
    fprintf(2, 'FAILED: %s\n', err.message);
    for k = 1:numel(err.stack)
      fprintf(2, '  at %s line %d\n', err.stack(k).name, err.stack(k).line);
    end
    exit(1);
  end
  exit(0);"
status=$?
if [ "$status" -eq $((128 + 9)) ]; then
  echo "FAILED: $test_file: no end within $bound s (a hang)" >&2
fi
exit "$status"
