#!/usr/bin/env bash
# Installs what is missing, builds the show (Release, into build/) and plays it with the given arguments.
#   ./run.sh [ARGS]             the build's output is shown only when the build fails
#   ./run.sh --verbose [ARGS]   the build's output as it goes
#   ./run.sh --web [--port N] [--lan] [--verbose]
#                               builds the page instead and serves it on 127.0.0.1, or with --lan on every
#                               address of this machine (scripts/serve-web.sh)
#   ./run.sh --windows [--verbose]
#                               builds the show for Windows instead (scripts/build-windows.sh) and says
#                               where its zip is
set -euo pipefail
cd "$(dirname "$0")"
verbose=0
if [ "${1:-}" = --verbose ]; then
  verbose=1
  shift
fi
if [ "${1:-}" = --web ]; then
  shift
  [ "$verbose" = 1 ] && set -- --verbose "$@"
  exec scripts/serve-web.sh "$@"
fi
if [ "${1:-}" = --windows ]; then
  if [ $# -gt 1 ]; then
    echo "narvu: --windows takes no options but --verbose before it; the zip's narvu.exe takes the show's own" >&2
    exit 2
  fi
  log=$(mktemp)
  status=0
  if [ "$verbose" = 1 ]; then
    zip=$(scripts/build-windows.sh) || status=$?
  else
    zip=$(scripts/build-windows.sh 2>"$log") || status=$?
  fi
  if [ "$status" != 0 ]; then
    cat "$log" >&2
    echo "run.sh: the Windows build failed (exit code $status); its output is above" >&2
    rm -f "$log"
    exit "$status"
  fi
  rm -f "$log"
  zip=$(printf '%s\n' "$zip" | tail -n 1)
  echo "narvu for Windows: $zip ($(du -h "$zip" | cut -f1)); unpack it on Windows and double-click narvu.exe" >&2
  exit 0
fi
scripts/install-deps.sh
build() {
  cmake -S . -B build -DCMAKE_BUILD_TYPE=Release && cmake --build build -j"$(nproc)" --target narvu
}
if [ "$verbose" = 1 ]; then
  build >&2
else
  # Someone who wants to watch the show has no use for a page of build progress, unless it failed.
  log=$(mktemp)
  status=0
  build >"$log" 2>&1 || status=$?
  if [ "$status" != 0 ]; then
    cat "$log" >&2
    echo "run.sh: the build failed (exit code $status); its output is above" >&2
    rm -f "$log"
    exit "$status"
  fi
  rm -f "$log"
fi
exec build/narvu "$@"
