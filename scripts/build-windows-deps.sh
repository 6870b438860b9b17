#!/usr/bin/env bash
# Builds zlib, libpng, libjpeg-turbo, libopenmpt and SDL2 as static libraries for 64-bit Windows with
# MinGW-w64, from Debian's source packages of exactly the versions the native build links, into a
# cache outside any build tree. Prints the cache prefix (include/, lib/, share/licenses/) as the last
# line of standard output; progress goes to standard error. Run with --help for details.
set -euo pipefail

# Raise when the way the libraries are built changes (here or in cmake/mingw-w64.cmake, which builds
# libjpeg-turbo and SDL2), so old cache entries are not reused.
recipe=1

usage() {
  cat <<'EOF'
Usage: scripts/build-windows-deps.sh [--help]

Builds zlib, libpng, libjpeg-turbo, libopenmpt and SDL2 as static libraries for x86_64-w64-mingw32
from Debian's source packages of the versions installed for the native build, and prints the
resulting prefix (with include/, lib/ and the libraries' licence texts in share/licenses/) as the
last line of standard output:

  prefix=$(scripts/build-windows-deps.sh | tail -n 1)
  cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DNARVU_WINDOWS_DEPS="$prefix"

The prefix lives in ${NARVU_WINDOWS_DEPS_CACHE:-${XDG_CACHE_HOME:-~/.cache}/narvu/windows-deps}/<key>,
where the key names the MinGW-w64 g++ version, the five libraries' upstream versions and this
script's recipe revision. A finished entry is reused at once; an interrupted build continues with the
libraries it had not finished. A cold build took 10 minutes on 2 cores busy with other work, 9 of them
for libopenmpt and SDL2. The build's log is kept beside the entry until it succeeds.

Missing Debian packages (MinGW-w64, Wine for the final check, dpkg-dev, cmake, the native -dev
packages) are installed, and a deb-src entry mirroring the system's deb entry is added when apt has
none; apt runs through sudo when not root.
EOF
}

deps_tool=build-windows-deps
deps_what="Windows dependencies"
deps_target=Windows
libs=(zlib png jpeg openmpt sdl2)
# What one idle core needs for each library, fetching included, in seconds, as measured; all but
# zlib's and libpng's builds use every core.
declare -A cost=([zlib]=5 [png]=20 [jpeg]=40 [openmpt]=620 [sdl2]=260)
declare -A parallel=([zlib]=0 [png]=0 [jpeg]=1 [openmpt]=1 [sdl2]=1)
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=scripts/deps-common.sh
. "$here/deps-common.sh"
deps_options "$@"
toolchain=$here/../cmake/mingw-w64.cmake

# The native -dev packages are here for their versions: they say which sources to build. Wine runs
# the final check; pkg-config reads the built libraries' .pc files for it.
mapfile -t dev_packages < <(deps_dev_packages)
deps_install g++-mingw-w64-x86-64 mingw-w64-tools wine wine64 dpkg-dev cmake make pkg-config "${dev_packages[@]}"

host=x86_64-w64-mingw32
# The default MinGW-w64 compilers have the win32 thread model, without std::thread; libopenmpt and
# the show need the -posix ones (winpthreads).
cc=$host-gcc-posix
cxx=$host-g++-posix
gxx_version=$($cxx -dumpfullversion 2>/dev/null) || die "cannot run $cxx"
[ -n "$gxx_version" ] || die "cannot tell $cxx's version from '$cxx -dumpfullversion'"

deps_versions
deps_enter_cache "${NARVU_WINDOWS_DEPS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/narvu/windows-deps}" \
  "mingw-g++-$gxx_version$(deps_key_libs)_r$recipe"
deps_open_stage
deps_sources

# Installs library $1's licence texts (the arguments after its prefix $2) where the Windows zip takes
# them from.
licences() {
  local l=$1 p=$2
  shift 2
  install -D -m644 -t "$p/share/licenses/${name[$l]}" "$@"
}

build_zlib() {
  local s=$1 p=$2
  cd "$s"
  # Debian's tarball has no win32/ folder; configure handles MinGW when told the host.
  CHOST=$host CC=$cc AR=$host-ar RANLIB=$host-ranlib ./configure --static --prefix="$p"
  make -j"$jobs" libz.a
  make install
  licences zlib "$p" LICENSE
}

build_png() {
  local s=$1 p=$2 f objs=()
  cd "$s"
  # The prebuilt configuration is libpng's default one; its own build would generate the same.
  cp scripts/pnglibconf.h.prebuilt pnglibconf.h
  for f in png pngerror pngget pngmem pngpread pngread pngrio pngrtran pngrutil pngset pngtrans \
           pngwio pngwrite pngwtran pngwutil; do
    $cc -O2 -I. -I"$stage/zlib/include" -c "$f.c" -o "$f.o"
    objs+=("$f.o")
  done
  $host-ar rcs libpng.a "${objs[@]}"
  install -D -m644 -t "$p/include" png.h pngconf.h pnglibconf.h
  install -D -m644 -t "$p/lib" libpng.a
  write_pc "$p/lib/pkgconfig/libpng.pc" libpng "${upstream[png]}" -lpng zlib
  licences png "$p" LICENSE
}

build_jpeg() {
  local s=$1 p=$2
  # No SIMD: its assembly needs nasm. The install prefix must be given: the Windows default is c:/.
  cmake -S "$s" -B "$s/mingw" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$p" -DWITH_SIMD=0 -DENABLE_SHARED=0 -DWITH_TURBOJPEG=0
  cmake --build "$s/mingw" -j "$jobs"
  cmake --install "$s/mingw"
  # Its own .pc file names the install folder in every path.
  write_pc "$p/lib/pkgconfig/libjpeg.pc" libjpeg "${upstream[jpeg]}" -ljpeg ""
  licences jpeg "$p" "$s/LICENSE.md" "$s/README.ijg"
}

build_openmpt() {
  local s=$1 p=$2
  cd "$s"
  # Every optional codec and player is off: the show plays tracker modules only. Without -g (which
  # autoconf would add) the archive is a fraction of the size and links faster; the code is the same.
  ./configure --host=$host CC=$cc CXX=$cxx --prefix="$p" --disable-shared --enable-static \
    CFLAGS=-O2 CXXFLAGS=-O2 \
    --without-zlib --without-mpg123 --without-ogg --without-vorbis --without-vorbisfile \
    --without-portaudio --without-portaudiocpp --without-sndfile --without-flac \
    --without-pulseaudio --without-sdl2 --disable-openmpt123 --disable-examples --disable-tests \
    --disable-doxygen-doc
  make -j"$jobs"
  make install
  licences openmpt "$p" LICENSE
}

build_sdl2() {
  local s=$1 p=$2
  cmake -S "$s" -B "$s/mingw" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$p" -DSDL_SHARED=OFF -DSDL_STATIC=ON -DSDL_TEST=OFF
  cmake --build "$s/mingw" -j "$jobs"
  cmake --install "$s/mingw"
  licences sdl2 "$p" "$s/LICENSE.txt"
}

deps_build_all
# bin/ is left out: sdl2-config names the stage, and libjpeg-turbo's tools are not needed.
deps_assemble include lib share/licenses

# Links all five libraries into one program, through their pkg-config files as a build would, and
# runs it under Wine, so a broken archive, a .pc file that misses a system library, or a key that
# names other versions than were built is caught before the entry is marked complete.
current="checking the built libraries"
check=$stage/check
mkdir -p "$check"
cat >"$check/check.cpp" <<'EOF'
#include <cstdio>
#include <libopenmpt/libopenmpt.h>
#include <png.h>
#include <zlib.h>
#include <jpeglib.h>
#include <SDL.h>

// sdl2.pc renames main to SDL_main, which SDL2main's own main calls: the signature must be this one.
int main(int, char**) {
  jpeg_decompress_struct cinfo;
  jpeg_error_mgr err;
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  SDL_version sdl;
  SDL_GetVersion(&sdl);
  const char* openmpt = openmpt_get_string("library_version");
  std::printf("zlib %s png %s jpeg %d.%d.%d openmpt %s sdl2 %d.%d.%d\n", zlibVersion(),
              png_get_libpng_ver(nullptr), LIBJPEG_TURBO_VERSION_NUMBER / 1000000,
              LIBJPEG_TURBO_VERSION_NUMBER / 1000 % 1000, LIBJPEG_TURBO_VERSION_NUMBER % 1000, openmpt,
              sdl.major, sdl.minor, sdl.patch);
  openmpt_free_string(openmpt);
  return 0;
}
EOF
wine=/usr/lib/wine/wine64
(
  cd "$check"
  export PKG_CONFIG_LIBDIR=$prefix/lib/pkgconfig
  unset PKG_CONFIG_PATH
  modules=(sdl2 libopenmpt libpng libjpeg zlib)
  # sdl2.pc asks for a GUI program (-mwindows), which has no standard output; -mconsole after it
  # gives one back.
  # shellcheck disable=SC2046
  $cxx -O1 $(pkg-config --cflags "${modules[@]}") check.cpp -static \
    $(pkg-config --static --libs "${modules[@]}") -mconsole -o check.exe
) >>"$log" 2>&1
# A Wine prefix of its own, made on the first run and removed with the stage; no Mono or Gecko is
# needed, so Wine is told not to offer them.
got=$(WINEPREFIX=$check/wine WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=' \
      "$wine" "$check/check.exe" 2>>"$log" | tr -d '\r' | sed 's/+[^ ]*//g')
WINEPREFIX=$check/wine "${wine%/*}/wineserver64" -k >>"$log" 2>&1 || true
current=
# libopenmpt's version string carries its build's tag after a '+'.
want="zlib ${upstream[zlib]} png ${upstream[png]} jpeg ${upstream[jpeg]} openmpt ${upstream[openmpt]} sdl2 ${upstream[sdl2]}"
[ "$got" = "$want" ] || die "the built libraries report '$got' under Wine, not '$want'"
deps_finish "by $cxx $gxx_version"
