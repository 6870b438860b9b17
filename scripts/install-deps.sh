#!/usr/bin/env bash
# Installs the Debian packages that building and playing narvu need; with --tests also what the tests,
# benchmarks and fuzz targets need. Only missing packages are installed; sudo is used only when not
# running as root.
#   scripts/install-deps.sh           the show (./run.sh)
#   scripts/install-deps.sh --web     the show and the page's build (scripts/build-web.sh)
#   scripts/install-deps.sh --windows the show and the Windows build (MinGW-w64, Wine)
#   scripts/install-deps.sh --tests   the show, the page, the Windows build, the tests (ffmpeg and Chromium
#                                     included), benchmarks and fuzz targets (./test.sh)
set -euo pipefail

web=0
windows=0
tests=0
for option in "$@"; do
  case "$option" in
    --web) web=1 ;;
    --windows) windows=1 ;;
    --tests) web=1; windows=1; tests=1 ;;
    *) echo "install-deps.sh: unknown option '$option'" >&2; exit 2 ;;
  esac
done

packages=(
  build-essential cmake pkg-config
  libsdl2-dev libopenmpt-dev libjpeg-dev zlib1g-dev libpng-dev
  libgl-dev libgl1-mesa-dri libegl1 libegl-mesa0
)
if [ $web = 1 ]; then
  # The page: emscripten compiles it; dpkg-dev fetches the libraries' Debian sources for it.
  packages+=(emscripten dpkg-dev nodejs)
fi
if [ $windows = 1 ]; then
  # The Windows build: cross-compiled by MinGW-w64, its libraries built from their Debian sources
  # (scripts/build-windows-deps.sh, which fetches them with dpkg-dev). Wine runs the Windows programs,
  # in the build and in its test; zip packs the program with its libraries' licences.
  packages+=(g++-mingw-w64-x86-64 mingw-w64-tools wine wine64 dpkg-dev zip)
fi
if [ $tests = 1 ]; then
  # The page in headless Chromium, driven from Node by puppeteer-core (tests/web/; npm installs it).
  packages+=(chromium)
  command -v npm >/dev/null || packages+=(npm)
  packages+=(libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev)
  # The show on a virtual X screen, looked at through screenshots.
  # X's core fonts, without which SDL's message boxes cannot be drawn.
  packages+=(xvfb xauth imagemagick xdotool xfonts-base)
  # Video captures, their exit codes and their joins are tested through the real ffmpeg.
  packages+=(ffmpeg)
  # The Debian package: made by cpack (dpkg-shlibdeps finds its libraries, with file), then checked as
  # installed: its manual pages rendered, its desktop entry validated, the whole package linted.
  packages+=(dpkg-dev file lintian desktop-file-utils man-db bsdextrautils)
  # narvu-farm is tested on a Slurm cluster of two simulated nodes that the test starts itself.
  packages+=(slurmctld slurmd slurm-client)
fi
# For the show alone ffmpeg is optional: it is only used to capture video files.
if [ "${NARVU_WITH_FFMPEG:-0}" = 1 ]; then packages+=(ffmpeg); fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
echo "Installing: ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
