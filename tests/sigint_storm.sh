#!/usr/bin/env bash
# Real SIGINTs, sent from outside at random moments into loops of commands
# running in one octave-cli on the simulated board, as an operator's Ctrl-C
# would come: every one must end its loop. A lost one shows as a loop that
# ran its two seconds out.
#
#   sigint_storm.sh SIGNALS COMMAND [COMMAND ...]
#
# sends SIGNALS signals into a loop of each COMMAND (an Octave statement).
# Octave reads its commands from a pipe here, and an interrupt brings it
# back to reading them, so one Octave serves every signal.
set -u
: "${DAP_BUILD_DIR:?}" "${DAPSIM_LIBRARY:?}" "${DAP_SOURCE_DIR:?}"
signals=$1
shift
work=$(mktemp -d)
cd "$work" || exit 1
export DAP_TEST_LIB=$DAP_SOURCE_DIR/tests/octave/lib

coproc OCTAVE { LD_PRELOAD=$DAPSIM_LIBRARY exec octave-cli --no-history --norc --quiet 2>&1; }
octave_pid=$OCTAVE_PID
trap 'kill -KILL "$octave_pid" 2>/dev/null; rm -rf "$work"' EXIT

say() { printf '%s\n' "$1" >&"${OCTAVE[1]}"; }
# Reads Octave's output up to a line that starts with $1; that line is left
# in $line. Octave that is silent for 60 s has hung: a failure, not a wait.
await() {
  while IFS= read -r -t 60 line <&"${OCTAVE[0]}"; do
    case $line in
      "$1"*) return 0 ;;
      *LOOP\ RAN\ OUT*) lost_line=$line ;;
    esac
  done
  echo "FAILED: no \"$1\" from octave-cli within 60 s" >&2
  exit 1
}

say "addpath(getenv('DAP_TEST_LIB')); dap_test_setup(); page_screen_output(false);"
say "printf('READY\\n'); fflush(stdout);"
await READY
failures=0
for command in "$@"; do
  lost=0
  for ((i = 0; i < signals; i++)); do
    lost_line=""
    say "printf('GO\\n'); fflush(stdout); t0 = tic; while toc(t0) < 2; $command; end; printf('LOOP RAN OUT\\n'); fflush(stdout);"
    await GO
    # 0 to 99 ms into the loop: the start of a call, its middle and its end
    # all get their share, whatever the command lasts.
    sleep "0.0$((RANDOM % 10))$((RANDOM % 10))"
    kill -INT "$octave_pid"
    say "printf('AFTER\\n'); fflush(stdout);"
    await AFTER
    [ -n "$lost_line" ] && lost=$((lost + 1))
  done
  echo "$command: $lost of $signals interrupts lost"
  [ "$lost" -eq 0 ] || failures=$((failures + 1))
done
say "exit(0)"
exit $((failures > 0))
