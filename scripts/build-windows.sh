#!/usr/bin/env bash
# Builds the show for 64-bit Windows into build-windows/: narvu.exe with its pack appended, the tools
# narvu-pack.exe and narvu-scene.exe, and narvu-windows.zip, what a Windows user unpacks (narvu.exe, a
# README.txt and the libraries' licence texts). Prints the zip's path as the last line of standard
# output; the builds' words go to standard error.
#   scripts/build-windows.sh            the show, the tools and the zip
#   scripts/build-windows.sh --tests    also the test programs, to run under Wine (scripts/test-windows.sh)
#
# Cross-compiled with MinGW-w64 (cmake/mingw-w64.cmake) against the Windows library cache
# (scripts/build-windows-deps.sh builds it once per version, about 10 minutes); the pack is the native
# build's narvu.dat, from build/, byte for byte. NARVU_NATIVE_BUILD_DIR and NARVU_WINDOWS_BUILD_DIR name
# other folders for the two builds (bench/windows.sh times cold builds in fresh ones).
set -euo pipefail
cd "$(dirname "$0")/.."

tests=OFF
case "${1:-}" in
  -h | --help)
    sed -n '2,12s/^# \{0,1\}//p' "$0"
    exit 0 ;;
  --tests) tests=ON ;;
  '') ;;
  *) echo "build-windows.sh: unknown option '$1' (see --help)" >&2; exit 2 ;;
esac

scripts/install-deps.sh --windows
prefix=$(scripts/build-windows-deps.sh | tail -n 1)

native=$(realpath -m "${NARVU_NATIVE_BUILD_DIR:-build}")
windows=$(realpath -m "${NARVU_WINDOWS_BUILD_DIR:-build-windows}")

# The pack, and the tool that appends it, from the native build.
cmake -S . -B "$native" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$native" -j"$(nproc)" --target narvu-dat narvu-pack >&2

cmake -S . -B "$windows" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Release \
  -DNARVU_WINDOWS_DEPS="$prefix" -DNARVU_NATIVE_PACK="$native/narvu.dat" \
  -DNARVU_NATIVE_PACK_TOOL="$native/tools/narvu-pack" -DNARVU_WINDOWS_TESTS=$tests >&2
cmake --build "$windows" -j"$(nproc)" >&2
echo "$windows/narvu-windows.zip"
