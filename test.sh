#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test through ctest, then the page's tests
# in headless Chromium (scripts/test-web.sh) and the Windows build's under Wine (scripts/test-windows.sh).
#   ./test.sh               Release build in build/
#   ./test.sh --sanitize    AddressSanitizer + UndefinedBehaviorSanitizer build in build-asan/
#   ./test.sh --fuzz SECS   also runs every fuzz target for SECS seconds (clang builds in build-fuzz/)
set -euo pipefail
cd "$(dirname "$0")"
dir=build
config=(-DCMAKE_BUILD_TYPE=Release)
fuzz_seconds=0
while [ $# -gt 0 ]; do
  case "$1" in
    --sanitize) dir=build-asan; config=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DNARVU_SANITIZE=ON) ;;
    --fuzz) fuzz_seconds="${2:?--fuzz needs a number of seconds}"; shift ;;
    *) echo "test.sh: unknown option '$1'" >&2; exit 2 ;;
  esac
  shift
done
scripts/install-deps.sh --tests
# Tests run headless: no display, no sound card (the build runs test programs to list their cases).
export SDL_VIDEODRIVER=offscreen SDL_AUDIODRIVER=dummy
# The show releases nothing it loaded at exit by design; the GL driver keeps its own allocations too.
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=0}"
cmake -S . -B "$dir" "${config[@]}" >/dev/null
cmake --build "$dir" -j"$(nproc)"
status=0
(cd "$dir" && ctest --output-on-failure -j"$(nproc)" --timeout 600) || status=$?
# The page in headless Chromium, and Windows under Wine, once: not again under the sanitizers, which
# reach neither WebAssembly nor the Windows build.
if [ "$dir" = build ]; then
  scripts/test-web.sh || status=1
  scripts/test-windows.sh || status=1
fi
if [ -x scripts/fuzz.sh ]; then
  NARVU_FUZZ_SECONDS="$fuzz_seconds" scripts/fuzz.sh || status=1
fi
exit $status
