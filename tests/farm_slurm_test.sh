#!/usr/bin/env bash
# The farm on a real Slurm: a cluster of two simulated nodes on this machine (tests/support/
# slurm_cluster.sh), a lossless interval captured by narvu-farm in two parts and joined, against the same
# interval captured by one process: the same frames (framemd5) and the same sound, with the parts made
# on both nodes. Then a part that fails: the join is held, narvu-farm resume makes only that part again,
# and the result is the same.
#
#   tests/farm_slurm_test.sh BUILD_DIR      exit 0, 1 on a failure, 77 when Slurm or ffmpeg is missing
#
# Everything goes into a temporary folder that the test removes, with the cluster, however it ends.
set -euo pipefail
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
source "$here/support/slurm_cluster.sh"

for program in slurmctld slurmd sbatch squeue sinfo scancel ffmpeg; do
  command -v "$program" >/dev/null || { echo "skipped: $program is not installed"; exit 77; }
done
[ "$(id -u)" = 0 ] || { echo "skipped: Slurm's daemons run as root here"; exit 77; }

started=$SECONDS
work=$(mktemp -d "${TMPDIR:-/tmp}/narvu-farm-test.XXXXXX")
finish() {
  stopCluster
  rm -rf "$work"
}
trap finish EXIT
trap 'exit 1' INT TERM

fail() {
  echo "FAILED: $*" >&2
  for log in "$work"/out/*.farm/*.log; do [ -e "$log" ] && { echo "--- $log" >&2; cat "$log" >&2; }; done
  exit 1
}

startCluster "$work/cluster"
echo "cluster ready after $((SECONDS - started)) s"

interval=(--fps 10 --from 20 --to 22 --lossless)
mkdir "$work/out"
"$build/narvu" --capture "$work/one.mkv" "${interval[@]}" 2>"$work/one.log" || fail "the one-process capture: $(cat "$work/one.log")"
ffmpeg -v error -i "$work/one.mkv" -f framemd5 - >"$work/one.framemd5"

# A job's state (COMPLETED, FAILED, PENDING, ...) and, for a pending one, why it waits.
jobState() { squeue -h -t all -j "$1" -o '%T %r' 2>/dev/null | head -n 1; }

# The last job a farm capture submitted: "ARRAY JOIN PARTS".
lastSubmission() { grep '^submitted ' "$1.farm/farm.txt" | tail -n 1 | cut -d' ' -f2-; }

# Waits until the job's state starts with $2 (at most $3 seconds).
waitFor() {
  local deadline=$((SECONDS + $3))
  until [[ "$(jobState "$1")" == $2* ]]; do
    [ $SECONDS -lt $deadline ] || fail "job $1 is '$(jobState "$1")', not $2, after $3 s"
    sleep 0.2
  done
}

sameAsOneProcess() {
  [ -f "$1" ] || fail "$1 was not made"
  ffmpeg -v error -i "$1" -f framemd5 - >"$1.framemd5"
  cmp -s "$work/one.framemd5" "$1.framemd5" || fail "$1 is not the one-process capture, frame for frame and in sound"
}

# ---- Two parts over two nodes, joined ----------------------------------------------------------------
farm=$work/out/farm.mkv
"$build/narvu-farm" submit "$farm" --parts 2 -- "${interval[@]}" >"$work/submit.txt" || fail "submit: $(cat "$work/submit.txt")"
read -r array join parts <<<"$(lastSubmission "$farm")"
[ "$parts" = 0-2 ] || fail "the array holds tasks '$parts', not 0-2 (the music and two parts)"
waitFor "$join" COMPLETED 40
sameAsOneProcess "$farm"
grep -q "narvu: the music of frames 200-220" "$farm.farm/part-0.log" || fail "the music task: $(cat "$farm.farm/part-0.log")"
grep -q 'on node n1' "$farm.farm"/part-*.log && grep -q 'on node n2' "$farm.farm"/part-*.log ||
  fail "the parts did not run on both nodes: $(cat "$farm.farm"/part-*.log)"
"$build/narvu-farm" status "$farm" | grep -q "is joined" || fail "status of a joined capture: $("$build/narvu-farm" status "$farm")"
echo "two parts on two nodes joined after $((SECONDS - started)) s"

# ---- A part that fails holds the join; resume makes only it again --------------------------------------
again=$work/out/again.mkv
# Part 2 cannot write its stream where a folder that is not empty stands.
mkdir -p "$again.segment-2-of-2.mkv/blocked"
"$build/narvu-farm" submit "$again" --parts 2 -- "${interval[@]}" >"$work/submit-again.txt" || fail "submit again"
read -r array join parts <<<"$(lastSubmission "$again")"
waitFor "$join" "PENDING DependencyNeverSatisfied" 40
[ ! -e "$again" ] || fail "the join ran although a part failed"
code=0
status=$("$build/narvu-farm" status "$again") || code=$?
[ "$code" = 1 ] || fail "status with a failed part exits with $code, not 1: $status"
grep -q "part 1/2 (frames 200-209): done" <<<"$status" && grep -q "part 2/2 (frames 210-220): failed" <<<"$status" &&
  grep -q "is held: a part failed" <<<"$status" || fail "status after a failed part: $status"

rm -rf "$again.segment-2-of-2.mkv"
"$build/narvu-farm" resume "$again" >"$work/resume.txt" || fail "resume: $(cat "$work/resume.txt")"
[ "$(jobState "$join" | cut -d' ' -f1)" = CANCELLED ] || fail "the held join $join was not cancelled: $(jobState "$join")"
read -r array join parts <<<"$(lastSubmission "$again")"
[ "$parts" = 2 ] || fail "resume submitted parts '$parts', not 2 alone"
waitFor "$join" COMPLETED 40
sameAsOneProcess "$again"
echo "resumed after a failed part and joined after $((SECONDS - started)) s"

# ---- The one-machine recipe of the README: scripts/local-slurm.sh starts a cluster of its own --------
stopCluster
recipe=$work/recipe
"$here/../scripts/local-slurm.sh" start "$recipe" >"$work/recipe.txt" || fail "local-slurm.sh start: $(cat "$work/recipe.txt")"
conf=$(grep -o 'SLURM_CONF=.*' "$work/recipe.txt" | cut -d= -f2)
[ "$(SLURM_CONF=$conf sinfo -h -N -o %t | grep -c idle)" = 2 ] || { "$here/../scripts/local-slurm.sh" stop "$recipe"; fail "the recipe's nodes are not idle"; }
mapfile -t daemons <"$recipe/daemons.pid"
"$here/../scripts/local-slurm.sh" stop "$recipe" >/dev/null
for pid in "${daemons[@]}"; do kill -0 "$pid" 2>/dev/null && fail "daemon $pid outlived local-slurm.sh stop"; done
echo "the one-machine recipe started and stopped its cluster after $((SECONDS - started)) s"
