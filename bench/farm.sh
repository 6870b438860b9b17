#!/usr/bin/env bash
# The farm's figures, measured in one run on this machine (docs/performance.md, "The render farm"):
#   1. one process against the farm: the same capture (the whole show, or up to --to) made by one narvu
#      process, then by narvu-farm on a Slurm cluster of two simulated nodes on this machine
#      (tests/support/slurm_cluster.sh) in 1 part and in 2 parts; for each farm run, from sbatch to the
#      joined file: the wait for the parts to start, each part's time and frames a second, the music
#      task's, the wait for the join to start and the join's time (the parts' checks and the copy); the
#      farm's fixed cost is the wait before the first part plus everything after the last;
#   2. seeking: the time to a capture's first frame at 100 s against one at 0 s, at 10 and 1000 frames
#      a second, and a last part's (--segment 100/100 at 1000 frames a second) time to its first frame;
#   3. the time a frame takes at larger sizes, for the model: the whole show at 2 frames a second, in
#      CPU time (the show's and ffmpeg's), which other work on the machine changes far less than wall
#      time.
#
#   bench/farm.sh BUILD_DIR [WxH@FPS] [--to S] [--sizes "WxH WxH ..."] [--against OTHER_BUILD_DIR]
#     WxH@FPS: the capture of part 1 (default 640x480@25, H.264 as narvu writes it by default)
#     --to:    capture only up to S seconds of the show in part 1 (default: all of it)
#     --sizes: the sizes of part 3 (default "1920x1080 3840x2160"; "" for none)
#     --against: another build (an earlier one, say) measured beside this one: its 1-part farm before
#              each of this build's, and its seeking before this build's
#
# Needs root (Slurm's daemons), Slurm and ffmpeg; writes into a temporary folder and removes it.
set -euo pipefail
build=$(cd "${1:?usage: bench/farm.sh BUILD_DIR [WxH@FPS] [--to S] [--sizes \"WxH ...\"]}" && pwd)
shift
setting=640x480@25
sizes="1920x1080 3840x2160"
to=()
other=""
while [ $# -gt 0 ]; do
  case "$1" in
    --sizes) sizes=$2; shift ;;
    --against) other=$(cd "$2" && pwd); shift ;;
    --to) to=(--to "$2"); shift ;;
    *x*@*) setting=$1 ;;
    *) echo "bench/farm.sh: unknown argument '$1'" >&2; exit 2 ;;
  esac
  shift
done
size=${setting%@*}
fps=${setting#*@}
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../tests/support/slurm_cluster.sh"

work=$(mktemp -d "${TMPDIR:-/tmp}/narvu-farm-bench.XXXXXX")
trap 'stopCluster; rm -rf "$work"' EXIT
trap 'exit 1' INT TERM

now() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.1f", b - a }'; }
between() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", b - a }'; }

# The frames and seconds of a narvu summary line ("N frames (S s of show) in W s, ...").
summaryOf() { grep -o '[0-9]* frames ([0-9.]* s of show) in [0-9.]* s' "$1" | tail -n 1 | awk '{ print $1, $8 }'; }

startCluster "$work/cluster"
echo "load at the start: $(cut -d' ' -f1-3 /proc/loadavg)"
echo
echo "== $setting${to[*]:+ ${to[*]}}: one process against the farm =="
capture=(--size "$size" --fps "$fps" "${to[@]}")

start=$(now)
"$build/narvu" --capture "$work/one.mp4" "${capture[@]}" 2>"$work/one.log"
one=$(since "$start")
echo "one process:               $one s"

# The first time each of the farm's jobs is seen in each state, polling squeue every 0.1 s.
# farmRun PARTS [BUILD]: the farm of BUILD (default this one).
farmRun() {
  local parts=$1 from=${2:-$build} out=$work/farm-$1-$RANDOM.mp4
  local start array join first_started="" last_ended="" join_started="" join_ended=""
  start=$(now)
  "$from/narvu-farm" submit "$out" --parts "$parts" -- "${capture[@]}" >/dev/null
  read -r array join _ <<<"$(grep '^submitted ' "$out.farm/farm.txt" | tail -n 1 | cut -d' ' -f2-)"
  while true; do
    local states t
    states=$(squeue -h -t all -j "$array,$join" -o '%i %T' 2>/dev/null)
    t=$(now)
    if [ -z "$first_started" ] && grep -q "^${array}_[1-9][0-9]* \(RUNNING\|COMPLETING\|COMPLETED\)" <<<"$states"; then
      first_started=$t
    fi
    if [ -z "$last_ended" ] && [ "$(grep -c "^${array}_[0-9]* COMPLETED" <<<"$states")" = "$((parts + 1))" ]; then
      last_ended=$t
    fi
    if [ -z "$join_started" ] && grep -q "^$join \(RUNNING\|COMPLETING\|COMPLETED\)" <<<"$states"; then join_started=$t; fi
    if grep -q "^$join \(COMPLETED\|FAILED\|CANCELLED\)" <<<"$states"; then join_ended=$t; break; fi
    sleep 0.1
  done
  [ -z "$last_ended" ] && last_ended=$join_started
  local total
  total=$(between "$start" "$join_ended")
  echo "farm, $parts part(s)${2:+ of $2}: $total s from sbatch to the joined file ($(awk -v f="$total" -v o="$one" 'BEGIN { printf "%.2f", f / o }') x one process)"
  echo "  parts started after      $(between "$start" "$first_started") s"
  local k
  for k in $(seq "$parts"); do
    read -r frames seconds <<<"$(summaryOf "$out.farm/part-$k.log")"
    echo "  part $k:                  $seconds s for $frames frames ($(awk -v f="$frames" -v s="$seconds" 'BEGIN { printf "%.2f", f / s }') frames/s) $(grep -o 'on node n[0-9]' "$out.farm/part-$k.log")"
  done
  [ -e "$out.farm/part-0.log" ] && echo "  the music (task 0):      $(grep -o 'on node n[0-9]' "$out.farm/part-0.log"), beside the parts"
  echo "  join started after       $(between "$last_ended" "$join_started") s (from the last task's end, seen in squeue)"
  read -r frames seconds <<<"$(summaryOf "$out.farm"/join-*.log)"
  echo "  join:                    $seconds s"
  echo "  fixed cost:              $(awk -v a="$(between "$start" "$first_started")" -v b="$(between "$last_ended" "$join_ended")" 'BEGIN { printf "%.1f", a + b }') s (sbatch to the first part, and the last task's end to the joined file)"
}
if [ -n "$other" ]; then
  for round in 1 2; do
    farmRun 1 "$other"
    farmRun 1
  done
else
  farmRun 1
fi
farmRun 2

echo
echo "== seeking: the time to a capture's first frame (16x16, no music) =="
# Seconds from the start until the first frame file is there (the show is ended then).
firstFrame() {
  local from=$1 folder=$work/seek-$RANDOM start pid
  shift
  start=$(now)
  "$from/narvu" --capture "$folder" --size 16x16 nosound "$@" 2>/dev/null &
  pid=$!
  until compgen -G "$folder/frame_*.png" >/dev/null; do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.01
  done
  since "$start"
  kill -TERM "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  rm -rf "$folder"
}
for from in $other $build; do
  [ -n "$other" ] && echo "$from:"
  for rate in 10 1000; do
    at0=$(firstFrame "$from" --fps "$rate" --from 0 --to 0)
    at100=$(firstFrame "$from" --fps "$rate" --from 100 --to 100)
    echo "--fps $rate: at 0 s $at0 s; at 100 s $at100 s ($(awk -v a="$at0" -v b="$at100" 'BEGIN { printf "%.2f", b / a }') x)"
  done
  part10=$(firstFrame "$from" --fps 10 --segment 100/100)
  part1000=$(firstFrame "$from" --fps 1000 --segment 100/100)
  echo "--segment 100/100 (at 106.4 s): --fps 10 $part10 s, --fps 1000 $part1000 s ($(awk -v a="$part10" -v b="$part1000" 'BEGIN { printf "%.2f", b / a }') x)"
done

for big in $sizes; do
  echo
  echo "== $big, the whole show at 2 frames a second (216 frames) =="
  TIMEFORMAT='%R %U %S'
  { time "$build/narvu" --capture "$work/big.mp4" --size "$big" --fps 2 2>/dev/null; } 2>"$work/time.txt"
  rm -f "$work/big.mp4"
  # CPU time (the show's and ffmpeg's) says more than wall time on a shared machine: a capture keeps
  # both cores busy, so on this machine alone its wall time is about half its CPU time.
  awk '{ wall = $1; cpu = $2 + $3
    printf "wall %.1f s, CPU %.1f s: %.3f s of CPU a frame\n", wall, cpu, cpu / 216
    printf "at 60 frames a second (6451 frames): %.0f s of CPU, %.0f s on two cores alone (%.3f x real time)\n",
           cpu / 216 * 6451, cpu / 216 * 6451 / 2, 107.5 / (cpu / 216 * 6451 / 2) }' "$work/time.txt"
done
echo
echo "load at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
