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

case "${1:-}" in
  -h | --help) usage; exit 0 ;;
  '') ;;
  *) usage >&2; exit 2 ;;
esac

say() { printf 'build-web-deps: %s\n' "$*" >&2; }
die() { say "error: $*"; exit 1; }

sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
as_root() {
  if [ ${#sudo_cmd[@]} -gt 0 ] && ! command -v sudo >/dev/null; then
    die "need root for: $*; run as root or install sudo"
  fi
  "${sudo_cmd[@]}" "$@"
}

# The native -dev packages are here for their versions: they say which sources to build.
# libgl-dev carries the Khronos headers copied into the prefix.
packages=(emscripten dpkg-dev cmake make zlib1g-dev libpng-dev libjpeg62-turbo-dev libopenmpt-dev libgl-dev)
installed=$(dpkg-query -W -f='${Package} ${db:Status-Status}\n' "${packages[@]}" 2>/dev/null || true)
missing=()
for p in "${packages[@]}"; do
  grep -qxF "$p installed" <<<"$installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  say "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  as_root apt-get update -qq >&2
  as_root apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
fi

# Debian's emscripten runs its JavaScript tools with the system's node modules, and Node 18+'s
# built-in fetch makes emscripten's output try to fetch its .wasm file instead of reading it.
export NODE_PATH=/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}
if node --no-experimental-fetch -e '' 2>/dev/null; then
  export NODE_OPTIONS="--no-experimental-fetch${NODE_OPTIONS:+ $NODE_OPTIONS}"
fi

emcc_version=$(emcc --version 2>/dev/null | sed -n '1s/.*) \([0-9][0-9.]*\).*/\1/p')
[ -n "$emcc_version" ] || die "cannot tell emcc's version from 'emcc --version'"

# Per library: the Debian source package and version of the installed -dev package. The key names
# upstream versions: a Debian revision bump (a security patch) does not make the wasm build stale.
libs=(zlib png jpeg openmpt)
declare -A dev=([zlib]=zlib1g-dev [png]=libpng-dev [jpeg]=libjpeg62-turbo-dev [openmpt]=libopenmpt-dev)
declare -A src ver upstream candidates
key=emcc-$emcc_version
sources=$(dpkg-query -W -f='${Package} ${source:Package} ${source:Version}\n' "${dev[@]}")
for l in "${libs[@]}"; do
  read -r _ "src[$l]" "ver[$l]" < <(grep "^${dev[$l]} " <<<"$sources")
  upstream[$l]=$(grep -oE '^[0-9]+(\.[0-9]+)*' <<<"${ver[$l]#*:}")
  key+=_$l-${upstream[$l]}
done
key+=_r$recipe

root=${NARVU_WEB_DEPS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/narvu/web-deps}
root=$(realpath -m "$root")
final=$root/$key
if [ -f "$final/.complete" ]; then
  echo "$final"
  exit 0
fi

mkdir -p "$root"
exec 9>"$root/.lock"
if ! flock -n 9; then
  say "waiting for another build of the web dependencies to finish…"
  flock 9
fi
if [ -f "$final/.complete" ]; then
  echo "$final"
  exit 0
fi

# Each library is built into its own prefix under the stage and marked done only once installed,
# so a rerun after an interruption skips what was finished. The entry is assembled from those
# prefixes and renamed into place, so $final only ever exists complete.
stage=$root/$key.partial
mkdir -p "$stage"
log=$stage/build.log
: >"$log"
jobs=$(nproc)
current=
open_line=
interrupted=
on_exit() {
  local rc=$?
  [ $rc -eq 0 ] && return
  [ -n "$open_line" ] && printf '\n' >&2
  if [ -n "$interrupted" ]; then
    say "interrupted"
  elif [ -n "$current" ] && [ -s "$log" ]; then
    say "$current failed; the end of $log:"
    tail -n 40 "$log" >&2
  fi
  if compgen -G "$stage/*/.done" >/dev/null; then
    say "finished libraries are kept in $stage; a rerun continues from there"
  fi
}
trap on_exit EXIT
trap 'interrupted=1; exit 130' INT
trap 'interrupted=1; exit 143' TERM

# Lists, per library, the sources that may be built, best first: the installed version itself,
# then the other Debian revisions of the same upstream version, newest first (the archive drops a
# revision once a security update replaces it, and a mirror may lack one it lists). Any other
# upstream version would make the web build differ from the native one, so that fails instead.
choose_sources() {
  local l v i offered sorted
  for l in "${libs[@]}"; do
    offered=$(apt-cache showsrc --only-source "${src[$l]}" 2>/dev/null | sed -n 's/^Version: //p' | sort -u)
    sorted=()
    while read -r v; do
      [ -n "$v" ] && [ "$v" != "${ver[$l]}" ] && [ "${v%-*}" = "${ver[$l]%-*}" ] || continue
      i=0
      while [ $i -lt ${#sorted[@]} ] && dpkg --compare-versions "${sorted[$i]}" gt "$v"; do i=$((i + 1)); done
      sorted=("${sorted[@]:0:$i}" "$v" "${sorted[@]:$i}")
    done <<<"$offered"
    grep -qxF "${ver[$l]}" <<<"$offered" && sorted=("${ver[$l]}" "${sorted[@]}")
    candidates[$l]=${sorted[*]}
    [ ${#sorted[@]} -gt 0 ] || return 1
  done
}

# Mirrors the system's deb entries for this Debian release (same archive, suites, components and
# signing key) as deb-src entries, leaving third-party repositories out.
add_deb_src() {
  local codename files=() f
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  [ -n "$codename" ] || die "cannot tell the Debian release from /etc/os-release"
  for f in /etc/apt/sources.list.d/*.sources; do [ -f "$f" ] && files+=("$f"); done
  local deb822=""
  [ ${#files[@]} -gt 0 ] && deb822=$(awk -v c="$codename" '
    function flush(  i) {
      if (n && deb && suites)
        for (i = 1; i <= n + 1; i++) print (i == types ? "Types: deb-src" : (i > n ? "" : line[i]))
      n = 0; deb = 0; suites = 0; types = 0
    }
    /^[ \t]*$/ { flush(); next }
    { line[++n] = $0 }
    tolower($1) == "types:" { types = n; for (i = 2; i <= NF; i++) if ($i == "deb") deb = 1 }
    tolower($1) == "suites:" {
      suites = NF > 1
      for (i = 2; i <= NF; i++) if ($i != c && index($i, c "-") != 1) suites = 0
    }
    END { flush() }' "${files[@]}")
  files=()
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do [ -f "$f" ] && files+=("$f"); done
  local oneline=""
  [ ${#files[@]} -gt 0 ] && oneline=$(awk -v c="$codename" '
    $1 == "deb" {
      i = 2
      if ($2 ~ /^\[/) { while (i < NF && $i !~ /\]$/) i++; i++ }
      s = $(i + 1)
      if (s == c || index(s, c "-") == 1) { $1 = "deb-src"; print }
    }' "${files[@]}")
  [ -n "$deb822$oneline" ] || die "found no deb entry for Debian $codename in /etc/apt to mirror as deb-src"
  say "adding deb-src entries for Debian $codename to /etc/apt/sources.list.d/narvu-deb-src.*"
  if [ -n "$deb822" ]; then
    printf '%s\n' "$deb822" | as_root tee /etc/apt/sources.list.d/narvu-deb-src.sources >/dev/null
  fi
  if [ -n "$oneline" ]; then
    printf '%s\n' "$oneline" | as_root tee /etc/apt/sources.list.d/narvu-deb-src.list >/dev/null
  fi
}

if ! choose_sources; then
  if ! grep -qsE '^[[:space:]]*(deb-src[[:space:]]|Types:.*[[:space:]]deb-src([[:space:]]|$))' \
      /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; then
    add_deb_src
  fi
  say "updating apt's package lists for Debian's sources"
  as_root apt-get update -qq >>"$log" 2>&1 || die "apt-get update failed; see $log"
  if ! choose_sources; then
    for l in "${libs[@]}"; do
      say "wanted: source ${src[$l]} ${ver[$l]%-*} (that of the installed ${dev[$l]} ${ver[$l]})"
    done
    die "Debian's archive does not offer all of these sources; after 'apt-get upgrade' the installed -dev packages may match what it offers"
  fi
fi

# Fetches and unpacks (Debian patches applied) library $1's source into $2/src, from the first of
# its candidates that downloads, and writes which that was into $2/version.
unpack() {
  local l=$1 dir=$2 v
  for v in ${candidates[$l]}; do
    rm -rf "$dir"
    mkdir -p "$dir/dl"
    if (cd "$dir/dl" && apt-get source --download-only "${src[$l]}=$v"); then
      dpkg-source -x "$dir/dl/${src[$l]}_${v#*:}.dsc" "$dir/src"
      echo "$v" >"$dir/version"
      return 0
    fi
    echo "=== ${src[$l]} $v could not be fetched"
  done
  echo "=== no source of ${src[$l]} ${ver[$l]%-*} could be fetched (tried ${candidates[$l]})"
  return 1
}

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

# pkg-config files relative to their own place, so the prefix stays valid wherever it is moved.
write_pc() {
  mkdir -p "$(dirname "$1")"
  cat >"$1" <<EOF
prefix=\${pcfiledir}/../..
libdir=\${prefix}/lib
includedir=\${prefix}/include

Name: $2
Description: $2 built for wasm
Version: $3
${5:+Requires.private: $5
}Libs: -L\${libdir} $4
Cflags: -I\${includedir}
EOF
}

# What one idle core needs for each library, fetching included, in seconds, as measured; all but
# libpng's build use every core.
declare -A cost=([zlib]=30 [png]=12 [jpeg]=60 [openmpt]=480)
declare -A parallel=([zlib]=1 [png]=0 [jpeg]=1 [openmpt]=1)
declare -A name=([zlib]=zlib [png]=libpng [jpeg]=libjpeg-turbo [openmpt]=libopenmpt)
estimate() {
  local s=${cost[$1]}
  [ "${parallel[$1]}" = 1 ] && s=$((s / jobs))
  if [ "$s" -lt 90 ]; then
    echo "about $(((s + 9) / 10 * 10)) seconds"
  else
    echo "about $(((s + 30) / 60)) minutes on $jobs idle cores"
  fi
}
elapsed() { printf '%dm%02ds' $(($1 / 60)) $(($1 % 60)); }

for l in "${libs[@]}"; do
  [ -f "$stage/$l/.done" ] && continue
  current="building ${name[$l]} ${upstream[$l]}"
  printf '%s' "build-web-deps: $current for wasm ($(estimate "$l"))… " >&2
  open_line=1
  start=$SECONDS
  echo "=== $current (${src[$l]}, installed ${ver[$l]}, candidates ${candidates[$l]})" >>"$log"
  rm -rf "${stage:?}/$l"
  (
    unpack "$l" "$stage/work/$l"
    "build_$l" "$stage/work/$l/src" "$stage/$l"
  ) >>"$log" 2>&1
  built=$(cat "$stage/work/$l/version")
  echo "${src[$l]} $built" >"$stage/$l/.done"
  rm -rf "$stage/work/$l"
  note=
  [ "$built" = "${ver[$l]}" ] || note=" (from Debian's $built: the archive no longer has the installed ${ver[$l]})"
  printf 'done in %s%s\n' "$(elapsed $((SECONDS - start)))" "$note" >&2
  open_line=
done

current="assembling the prefix"
prefix=$stage/prefix
rm -rf "$prefix"
mkdir -p "$prefix/include" "$prefix/lib"
for l in "${libs[@]}"; do
  cp -a "$stage/$l/include/." "$prefix/include/"
  cp -a "$stage/$l/lib/." "$prefix/lib/"
done
rm -f "$prefix"/lib/*.la
# The installed pkg-config files name the stage as their prefix.
for f in "$prefix"/lib/pkgconfig/*.pc; do
  sed -i 's|^prefix=.*|prefix=${pcfiledir}/../..|' "$f"
done
if grep -rlI -- "$stage" "$prefix" >&2; then
  die "the files above still name the stage folder"
fi
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

{
  echo "$key built $(date -u +%Y-%m-%dT%H:%M:%SZ) by emcc $emcc_version from Debian's sources:"
  for l in "${libs[@]}"; do cat "$stage/$l/.done"; done
} >"$prefix/.complete"
rm -rf "$final"
mv -T "$prefix" "$final"
rm -rf "$stage"
say "web dependencies ready in $final"
echo "$final"
