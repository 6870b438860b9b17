#!/usr/bin/env bash
# Installs what is missing, builds the show (Release, into build/) and plays it with the given arguments.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)" --target narvu >&2
exec build/narvu "$@"
