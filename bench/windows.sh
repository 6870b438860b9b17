#!/usr/bin/env bash
# Figures of the Windows build, each beside the native build's, measured in one run on this machine
# (docs/performance.md, "Windows"):
#   - a PNG capture's cost per frame under Wine (on Xvfb, scripts/wine-session.sh) and natively: the same
#     interval, the runs alternating, the median and the fastest of each;
#   - narvu.exe's size and the zip's;
#   - the cold build (scripts/build-windows.sh into fresh folders, the library cache warm) and the warm
#     one (the same again, nothing changed), beside the native show's and tools' cold and warm builds.
#   bench/windows.sh [--runs N] [--no-builds] [--no-capture]      (3 runs by default)
# Needs build/ and build-windows/ built (scripts/build-windows.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
runs=3
builds=1
capture=1
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs=${2:?--runs needs a number}; shift ;;
    --no-builds) builds=0 ;;
    --no-capture) capture=0 ;;
    -h | --help) sed -n '2,10s/^# \{0,1\}//p' "$0"; exit 0 ;;
    *) echo "bench/windows.sh: unknown option '$1' (see --help)" >&2; exit 2 ;;
  esac
  shift
done
[ -x build/narvu ] && [ -f build-windows/narvu.exe ] || { echo "bench/windows.sh: build build/ and build-windows/ first" >&2; exit 1; }

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
# The capture's own measure of its time, from the summary line ("N frames (...) in W s, ...").
capture_seconds() { tr -d '\r' <"$1" | sed -n 's/^narvu: [0-9]* frames (.*) in \([0-9.]*\) s,.*/\1/p'; }

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
capture_cost() {
  unset SDL_VIDEODRIVER SDL_AUDIODRIVER
  # shellcheck source=scripts/wine-session.sh
  . scripts/wine-session.sh
  trap 'wine_session_stop; rm -rf "$tmp"' EXIT
  wine_session_start "$tmp"
  local interval=(--fps 10 --from 20 --to 40) frames=201 run native wine measure
  : >"$tmp/native.times"
  : >"$tmp/wine.times"
  for run in $(seq "$runs"); do
    rm -rf "$tmp/frames"
    SDL_VIDEODRIVER=offscreen SDL_AUDIODRIVER=dummy build/narvu --capture "$tmp/frames" "${interval[@]}" 2>"$tmp/native.log"
    capture_seconds "$tmp/native.log" >>"$tmp/native.times"
    rm -rf "$tmp/frames"
    wine_run build-windows/narvu.exe --capture "$tmp/frames" "${interval[@]}" 2>"$tmp/wine.log"
    capture_seconds "$tmp/wine.log" >>"$tmp/wine.times"
    echo "run $run: native $(tail -n 1 "$tmp/native.times") s, Wine $(tail -n 1 "$tmp/wine.times") s for $frames frames" >&2
  done
  # The median, and the fastest run, which other work on the machine disturbed least.
  for measure in median fastest; do
    if [ $measure = median ]; then
      native=$(median <"$tmp/native.times") wine=$(median <"$tmp/wine.times")
    else
      native=$(sort -g "$tmp/native.times" | head -n 1) wine=$(sort -g "$tmp/wine.times" | head -n 1)
    fi
    awk -v m=$measure -v n="$native" -v w="$wine" -v f="$frames" -v r="$runs" 'BEGIN {
      printf "capture cost per frame (640 x 480 PNG, %d frames, %s of %d runs): native %.1f ms, under Wine %.1f ms, %.2f x\n",
             f, m, r, 1000 * n / f, 1000 * w / f, w / n }'
  done
  wine_session_stop
  trap 'rm -rf "$tmp"' EXIT
}
[ "$capture" = 0 ] || capture_cost

echo "sizes: narvu.exe $(stat -c %s build-windows/narvu.exe) bytes, narvu-windows.zip $(stat -c %s build-windows/narvu-windows.zip) bytes"

[ "$builds" = 1 ] || exit 0
# The seconds a build takes; its output only when it fails.
seconds() {
  local start=$SECONDS
  if ! "$@" >"$tmp/build.log" 2>&1; then
    cat "$tmp/build.log" >&2
    echo "bench/windows.sh: $1 failed" >&2
    return 1
  fi
  echo $((SECONDS - start))
}
native_build() { cmake -S . -B "$tmp/native-build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF && cmake --build "$tmp/native-build" -j"$(nproc)"; }
windows_build() { NARVU_NATIVE_BUILD_DIR=$tmp/pack-build NARVU_WINDOWS_BUILD_DIR=$tmp/windows-build scripts/build-windows.sh; }
native_cold=$(seconds native_build)
windows_cold=$(seconds windows_build)
native_warm=$(seconds native_build)
windows_warm=$(seconds windows_build)
echo "builds: native show and tools cold $native_cold s, warm $native_warm s;" \
  "Windows (the native pack's build included) cold $windows_cold s, warm $windows_warm s;" \
  "cold $(awk -v a="$windows_cold" -v b="$native_cold" 'BEGIN { printf "%.2f", a / b }') x the native"
