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
exec octave-cli --no-history --norc --quiet --eval "
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
