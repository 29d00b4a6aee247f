#!/usr/bin/env bash
# scripts/octave-sim with a script whose folder and name hold quotes, spaces,
# "$" and shell syntax: the script runs (from its own folder), nothing in its
# name is executed, the simulator's banner appears once although the script
# starts a child process, and a failing script fails the run. A name that
# starts with "-" runs after "--" and as an existing file; a symbolic link
# runs from the link's folder, as run() would.
#   octave_sim_paths.sh <octave-sim>
set -euo pipefail
octave_sim=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export LD_PRELOAD=${DAP_OUTER_PRELOAD:-}
fail() {
  echo "FAILED: $*" >&2
  exit 1
}

"$octave_sim" --help | grep '^Usage: octave-sim' >/dev/null || fail "--help"

folder="$work/it's a \"lab\" folder \$HOME; \`touch hit\` (1)"
mkdir -p "$folder"
script="$folder/session \$(touch hit) ');touch('hit'.m"
cat >"$script" <<'EOM'
printf('folder %s\n', pwd);
BrdCmd('start laba');
assert(~isempty(dapsim('written accel0')));
system('echo child ran');
EOM
cd "$work"
out=$("$octave_sim" "$script" 2>"$work/stderr") || { cat "$work/stderr" >&2; fail "the script did not run"; }
grep -qxF "folder $folder" <<<"$out" || fail "not run from its own folder: $out"
grep -qx 'child ran' <<<"$out" || fail "no output of the child process: $out"
banners=$(grep -c '^dapsim: simulated DAP board' "$work/stderr" || true)
[ "$banners" -eq 1 ] || fail "the simulator's banner appeared $banners times"
[ -z "$(find "$work" -name hit)" ] || fail "part of the script's name was executed"

printf "error('dap:test', 'stopped here');\n" >"$folder/failing 'one'.m"
if "$octave_sim" "$folder/failing 'one'.m" 2>"$work/stderr"; then
  fail "a failing script passed"
fi
grep -q 'stopped here' "$work/stderr" || fail "the script's error was not shown"

cat >"$folder/-lead.m" <<'EOM'
printf('folder %s\n', pwd);
EOM
mkdir "$work/links"
ln -s "$folder/-lead.m" "$work/links/linked.m"
for run in "$folder:-- -lead.m" "$folder:-lead.m" "$work/links:$work/links/linked.m"; do
  expected=${run%%:*}
  read -ra arguments <<<"${run#*:}"
  out=$(cd "$folder" && "$octave_sim" "${arguments[@]}") || fail "octave-sim ${run#*:}"
  [ "$out" = "folder $expected" ] || fail "octave-sim ${run#*:} ran in ${out#folder }"
done
out=$("$octave_sim" -no-such.m 2>&1) && fail "an unknown option was taken"
grep -q '^Usage: octave-sim' <<<"$out" || fail "no usage for an unknown option"
echo ok
