#!/usr/bin/env bash
# Builds zlib, libpng, libjpeg-turbo and libopenmpt for WebAssembly with emscripten, from Debian's
# source packages of exactly the versions the native build links, into a cache outside any build
# tree. Prints the cache prefix (include/, lib/) as the last line of standard output; progress goes
# to standard error. Run with --help for details.
set -euo pipefail

# Raise when the way the libraries are built changes, so old cache entries are not reused.
recipe=1

usage() {
  cat <<'EOF'
Usage: scripts/build-web-deps.sh [--help]

Builds zlib, libpng, libjpeg-turbo and libopenmpt for wasm with emscripten from Debian's source
packages of the versions installed for the native build, and prints the resulting prefix (with
include/ and lib/) as the last line of standard output:

  prefix=$(scripts/build-web-deps.sh)

The prefix lives in ${NARVU_WEB_DEPS_CACHE:-${XDG_CACHE_HOME:-~/.cache}/narvu/web-deps}/<key>,
where the key names the emcc version, the four libraries' upstream versions and this script's
recipe revision. A finished entry is reused at once; an interrupted build continues with the
libraries it had not finished. A cold build takes about 5 minutes on 2 idle cores (8 when they are
busy), mostly libopenmpt. The build's log is kept beside the entry until it succeeds.

Missing Debian packages (emscripten, dpkg-dev, cmake, the native -dev packages) are installed,
and a deb-src entry mirroring the system's deb entry is added when apt has none; apt runs through
sudo when not root.
EOF
}

deps_tool=build-web-deps
deps_what="web dependencies"
deps_target=wasm
libs=(zlib png jpeg openmpt)
# What one idle core needs for each library, fetching included, in seconds, as measured; all but
# libpng's build use every core.
declare -A cost=([zlib]=30 [png]=12 [jpeg]=60 [openmpt]=480)
declare -A parallel=([zlib]=1 [png]=0 [jpeg]=1 [openmpt]=1)
# shellcheck source=scripts/deps-common.sh
. "$(dirname "${BASH_SOURCE[0]}")/deps-common.sh"
deps_options "$@"

# The native -dev packages are here for their versions: they say which sources to build.
# libgl-dev carries the Khronos headers copied into the prefix.
mapfile -t dev_packages < <(deps_dev_packages)
deps_install emscripten dpkg-dev cmake make libgl-dev "${dev_packages[@]}"

# Debian's emscripten runs its JavaScript tools with the system's node modules, and Node 18+'s
# built-in fetch makes emscripten's output try to fetch its .wasm file instead of reading it.
export NODE_PATH=/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}
if node --no-experimental-fetch -e '' 2>/dev/null; then
  export NODE_OPTIONS="--no-experimental-fetch${NODE_OPTIONS:+ $NODE_OPTIONS}"
fi

emcc_version=$(emcc --version 2>/dev/null | sed -n '1s/.*) \([0-9][0-9.]*\).*/\1/p')
[ -n "$emcc_version" ] || die "cannot tell emcc's version from 'emcc --version'"

deps_versions
deps_enter_cache "${NARVU_WEB_DEPS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/narvu/web-deps}" \
  "emcc-$emcc_version$(deps_key_libs)_r$recipe"
deps_open_stage
deps_sources

build_zlib() {
  local s=$1 p=$2
  cd "$s"
  emconfigure ./configure --static --prefix="$p"
  emmake make -j"$jobs" libz.a
  emmake make install
}

build_png() {
  local s=$1 p=$2 f objs=()
  cd "$s"
  # The prebuilt configuration is libpng's default one; its own build would generate the same.
  cp scripts/pnglibconf.h.prebuilt pnglibconf.h
  for f in png pngerror pngget pngmem pngpread pngread pngrio pngrtran pngrutil pngset pngtrans \
           pngwio pngwrite pngwtran pngwutil; do
    emcc -O2 -DPNG_ARM_NEON_OPT=0 -I. -I"$stage/zlib/include" -c "$f.c" -o "$f.o"
    objs+=("$f.o")
  done
  emar rcs libpng.a "${objs[@]}"
  install -D -m644 -t "$p/include" png.h pngconf.h pnglibconf.h
  install -D -m644 -t "$p/lib" libpng.a
  write_pc "$p/lib/pkgconfig/libpng.pc" libpng "${upstream[png]}" -lpng zlib
}

build_jpeg() {
  local s=$1 p=$2
  # CMake's type-size probes read 9 for size_t under emcc, so the sizes are given: when they match,
  # the Huffman coder counts bits with __builtin_ctzl.
  emcmake cmake -S "$s" -B "$s/wasm" -DCMAKE_BUILD_TYPE=Release -DWITH_SIMD=0 -DENABLE_SHARED=0 \
    -DWITH_TURBOJPEG=0 -DSIZE_T=4 -DUNSIGNED_LONG=4
  # Only the library: its installation would also want the command-line tools.
  emmake cmake --build "$s/wasm" --target jpeg-static -j "$jobs"
  install -D -m644 -t "$p/include" "$s/wasm/jconfig.h" "$s/jpeglib.h" "$s/jmorecfg.h" "$s/jerror.h"
  install -D -m644 -t "$p/lib" "$s/wasm/libjpeg.a"
  write_pc "$p/lib/pkgconfig/libjpeg.pc" libjpeg "${upstream[jpeg]}" -ljpeg ""
}

build_openmpt() {
  local s=$1 p=$2
  cd "$s"
  # Every optional codec and player is off: the show plays tracker modules only. Without -g (which
  # autoconf would add) the archive is a fraction of the size and links faster; the code is the same.
  # emscripten's default of no exception catching is kept, so a malformed module aborts rather than
  # failing to load: the show only loads its own module, and catching would slow every call.
  emconfigure ./configure --prefix="$p" --disable-shared --enable-static CFLAGS=-O2 CXXFLAGS=-O2 \
    --without-zlib --without-mpg123 --without-ogg --without-vorbis --without-vorbisfile \
    --without-portaudio --without-portaudiocpp --without-sndfile --without-flac \
    --without-pulseaudio --without-sdl2 --disable-openmpt123 --disable-examples --disable-tests \
    --disable-doxygen-doc
  emmake make -j"$jobs"
  emmake make install
}

deps_build_all
deps_assemble include lib
install -D -m644 -t "$prefix/include/GL" /usr/include/GL/glcorearb.h
install -D -m644 -t "$prefix/include/KHR" /usr/include/KHR/khrplatform.h

# Links all four libraries into one program and runs it, so a broken archive or a key that names
# other versions than were built is caught before the entry is marked complete.
current="checking the built libraries"
check=$stage/check
mkdir -p "$check"
cat >"$check/check.cpp" <<'EOF'
#include <cstdio>
#include <libopenmpt/libopenmpt.h>
#include <png.h>
#include <zlib.h>
#include <jpeglib.h>

int main() {
  jpeg_decompress_struct cinfo;
  jpeg_error_mgr err;
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  const char* openmpt = openmpt_get_string("library_version");
  std::printf("zlib %s png %s jpeg %d.%d.%d openmpt %s\n", zlibVersion(), png_get_libpng_ver(nullptr),
              LIBJPEG_TURBO_VERSION_NUMBER / 1000000, LIBJPEG_TURBO_VERSION_NUMBER / 1000 % 1000,
              LIBJPEG_TURBO_VERSION_NUMBER % 1000, openmpt);
  openmpt_free_string(openmpt);
}
EOF
(
  cd "$check"
  em++ -O1 -I"$prefix/include" check.cpp -L"$prefix/lib" -lopenmpt -lpng -ljpeg -lz -o check.js
) >>"$log" 2>&1
# libopenmpt's version string carries its build's tag after a '+'.
got=$(node "$check/check.js" | sed 's/+[^ ]*//g')
current=
want="zlib ${upstream[zlib]} png ${upstream[png]} jpeg ${upstream[jpeg]} openmpt ${upstream[openmpt]}"
[ "$got" = "$want" ] || die "the built libraries report '$got', not '$want'"

deps_finish "by emcc $emcc_version"
