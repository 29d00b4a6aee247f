#!/usr/bin/env bash
# octave-sim --replay as a lab's regression test: an exact replay exits 0, a
# script that makes one call differently, one call fewer or none exits 3 with the
# verdict on standard error, a session file that is missing, empty, foreign
# or damaged exits 4 before the script runs; a recording whose Octave was
# killed is unfinished: it plays up to its last whole block, the calls after
# it fail, and the replay exits 5; under DAPSIM_REPLAY
# alone a refused file keeps the device nodes from opening. The example
# session is version 1; its whole cut is version 2 and must replay alike.
# octave-sim's own helpers (mktemp, grep, rm) run without the simulator and
# the replay, so the banner and the verdict come once; a host killed during
# the replay ends in a line that says so and the shell's status, 128 + the
# signal.
#   octave_sim_replay.sh <octave-sim> <dapsession> <session>
set -euo pipefail
octave_sim=$1
tool=$2
example=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export LD_PRELOAD=${DAP_OUTER_PRELOAD:-}
fail() {
  echo "FAILED: $*" >&2
  exit 1
}

sweeps() {
  cat >"$work/sweeps.m" <<EOM
printf('script ran\n');
SwpInit; SwpStart($1);
for k = 1:$2
  [lead, sweep] = SwpRead(2);
end
offsets = SwpOffset; SwpStop(2); SwpClose;
EOM
}
# run EXPECTED-STATUS SESSION: the run's standard error in $said.
run() {
  local status=0
  "$octave_sim" --replay "$2" "$work/sweeps.m" >"$work/out" 2>"$work/err" || status=$?
  said=$(cat "$work/out" "$work/err")
  [ "$status" -eq "$1" ] || fail "status $status, not $1, for $2: $said"
}

calls=$("$tool" show "$example" | grep -c '^--- call ')
"$tool" cut "$example" "1-$calls" "$work/v2.ses" >/dev/null
"$tool" check "$work/v2.ses" | grep 'version 2' >/dev/null || fail "the cut is not version 2"
sweeps 2 3
for session in "$example" "$work/v2.ses"; do
  run 0 "$session"
  grep -q "^dapsim: replay of .*: exact: 1182 of 1182 recorded calls played, 0 differences$" \
    <<<"$said" || fail "no exact verdict: $said"
done
# Every helper octave-sim starts notes its environment; rm keeps a copy of the
# verdict file it removes.
mkdir "$work/shims"
for helper in mktemp grep rm; do
  cat >"$work/shims/$helper" <<EOM
#!/bin/sh
echo "$helper \${LD_PRELOAD-} \${DAPSIM_REPLAY-}" >>"$work/helpers"
[ $helper != rm ] || for f; do case \$f in *verdict*) cat "\$f" >>"$work/verdicts" ;; esac; done
PATH=$PATH exec $helper "\$@"
EOM
  chmod +x "$work/shims/$helper"
done
PATH=$work/shims:$PATH run 0 "$example"
[ "$(grep -c '^dapsim: simulated DAP board' <<<"$said")" -eq 1 ] || fail "banners: $said"
[ "$(grep -c '^dapsim: replay of' <<<"$said")" -eq 1 ] || fail "verdicts: $said"
grep -q '^rm ' "$work/helpers" || fail "no helper seen"
! grep -e libdapsim -e "\.ses" "$work/helpers" || fail "a helper ran on the simulated board"
[ "$(cat "$work/verdicts")" = exact ] || fail "the verdict file: $(cat "$work/verdicts")"

printf 'SwpInit;\nkill(getpid(), 9);\n' >"$work/sweeps.m"
run 137 "$example"
grep -qx 'octave-sim: octave-cli was killed by signal 9: no verdict' <<<"$said" || fail "killed: $said"

sweeps 2 2
run 3 "$example"
grep -q "NOT exact: .* recorded calls left unplayed" <<<"$said" || fail "one call fewer: $said"
printf "disp('no device call');\n" >"$work/sweeps.m"
run 3 "$example"
grep -q "NOT exact: 0 of 1182 recorded calls played, 0 differences; 1182 recorded calls left unplayed" \
  <<<"$said" || fail "a script that makes no call: $said"
sweeps 1 3
run 3 "$work/v2.ses"
grep -q "NOT exact: .*, the first: accel0 write 4 byte 14: expected 0x62 got 0x63" <<<"$said" ||
  fail "a call made differently: $said"

size=$(stat -c %s "$work/v2.ses")
: >"$work/empty.ses"
cp "$work/v2.ses" "$work/damaged.ses"
# dd trips the sanitizer runtime that the sanitized build preloads here.
printf 'X' | LD_PRELOAD= dd of="$work/damaged.ses" bs=1 seek=$((size / 2)) conv=notrunc status=none
for bad in empty.ses damaged.ses sweeps.m /dev/zero no-such.ses; do
  case $bad in /*) file=$bad ;; *) file=$work/$bad ;; esac
  run 4 "$file"
  grep -q 'script ran' <<<"$said" && fail "the script ran on $bad"
  case $bad in
    no-such.ses) grep -q 'no such session file' <<<"$said" || fail "$bad: $said" ;;
    *) grep -q "$file: refused: .* at bytes\? [0-9]" <<<"$said" || fail "$bad: $said" ;;
  esac
done
# Octave killed on the rig after its third command call: the session up to
# that call's close is kept, and the whole script replays it.
printf 'SwpInit; SwpStart(2); [lead, sweep] = SwpRead(2);\nkill(getpid(), 9);\n' >"$work/killed.m"
status=0
DAPREC_FILE=$work/killed.ses LD_PRELOAD=${LD_PRELOAD:+$LD_PRELOAD:}$(dirname "$tool")/libdaprec.so \
  "$octave_sim" "$work/killed.m" >/dev/null 2>&1 || status=$?
[ "$status" -eq 137 ] || fail "the recording was not killed: status $status"
status=0
"$tool" check "$work/killed.ses" >"$work/out" || status=$?
[ "$status" -eq 3 ] || fail "check of a killed recording: status $status"
grep -qx 'unfinished: the recording ends after call 3 (tick [0-9]*); 0 bytes after the last whole block dropped' \
  "$work/out" || fail "check of a killed recording: $(cat "$work/out")"
sweeps 2 3
run 5 "$work/killed.ses"
grep -q "^dapsim: replay of .*: exact to the end of an unfinished recording: \([1-9][0-9]*\) of \1 recorded calls played, 0 differences; the recording is unfinished: [0-9]* calls\? came after its end and failed with EIO$" \
  <<<"$said" || fail "unfinished: $said"

# Any host: the device nodes do not open, with one line to say why.
status=0
DAPSIM_REPLAY=$work/damaged.ses "$octave_sim" "$work/sweeps.m" >"$work/out" 2>"$work/err" ||
  status=$?
[ "$status" -eq 1 ] || fail "DAPSIM_REPLAY with a damaged file: status $status"
[ "$(grep -c 'DAPSIM_REPLAY: .*damaged.ses: refused: .*the device nodes will not open' \
  "$work/err")" -eq 1 ] || fail "not said once: $(cat "$work/err")"
echo ok
