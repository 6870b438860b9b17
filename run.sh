#!/usr/bin/env bash
# Installs what is missing, builds the show (Release, into build/) and plays it with the given arguments.
# ./run.sh --web [--port N] builds the page instead and serves it on 127.0.0.1 (scripts/serve-web.sh).
set -euo pipefail
cd "$(dirname "$0")"
if [ "${1:-}" = --web ]; then
  shift
  exec scripts/serve-web.sh "$@"
fi
scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)" --target narvu >&2
exec build/narvu "$@"
