#!/usr/bin/env bash
# Installs what is missing, builds the show (Release, into build/) and plays it with the given arguments.
#   ./run.sh [ARGS]             the build's output is shown only when the build fails
#   ./run.sh --verbose [ARGS]   the build's output as it goes
#   ./run.sh --web [--port N] [--lan] [--verbose]
#                               builds the page instead and serves it on 127.0.0.1, or with --lan on every
#                               address of this machine (scripts/serve-web.sh)
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
