#!/usr/bin/env bash
# Builds the page into build-web/: the show compiled to WebAssembly, the page's own files, the pack and
# the poster, static files under versioned names that any web server can serve. Prints the folder's
# path as the last line of standard output; the builds' words go to standard error.
#
# The libraries come from the web library cache (scripts/build-web-deps.sh builds them once per version,
# about 5 minutes); the pack and the poster from the native build in build/ (the content generator
# makes the pack, the show captures the poster's frame); the CMake tree of the page is build-wasm/.
set -euo pipefail
cd "$(dirname "$0")/.."

case "${1:-}" in
  -h | --help)
    sed -n '2,8s/^# \{0,1\}//p' "$0"
    exit 0 ;;
  '') ;;
  *) echo "build-web.sh: unknown option '$1' (see --help)" >&2; exit 2 ;;
esac

scripts/install-deps.sh --web
prefix=$(scripts/build-web-deps.sh | tail -n 1)

# The pack, from the native content generator, and the poster, a frame the native show captures.
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)" --target narvu-dat narvu-poster >&2

# Debian's emscripten runs its tools with the system's node modules; Node's own fetch would make the
# compiler's JavaScript misload files.
export NODE_PATH=/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}
if node --no-experimental-fetch -e '' 2>/dev/null; then
  export NODE_OPTIONS="--no-experimental-fetch${NODE_OPTIONS:+ $NODE_OPTIONS}"
fi
emcmake cmake -S . -B build-wasm -DCMAKE_BUILD_TYPE=Release -DNARVU_WEB_DEPS="$prefix" \
  -DNARVU_WEB_PACK="$PWD/build/narvu.dat" -DNARVU_WEB_POSTER="$PWD/build/poster.jpg" \
  -DNARVU_WEB_SITE="$PWD/build-web" >/dev/null
cmake --build build-wasm -j"$(nproc)" >&2
echo "$PWD/build-web"
