# shellcheck shell=bash disable=SC2154
# Sourced by the scripts that build the show's libraries for another platform (build-web-deps.sh,
# build-windows-deps.sh) from Debian's source packages of exactly the versions the native build links,
# into a cache entry outside any build tree. What differs between platforms (the compilers, each
# library's recipe, the final check) stays in those scripts; the rest is here, written once.
#
# The sourcing script defines usage() and sets, before calling the functions below:
#   deps_tool     its name, which prefixes every message
#   deps_what     what it builds, in words ("web dependencies")
#   deps_target   the platform, in words ("wasm")
#   libs          the libraries' short names, in build order; each has a function build_<name> SRC PREFIX
#   cost, parallel
#                 per library: the seconds one idle core needs for it, and 1 when its build uses every
#                 core

# Per library either platform builds: the installed Debian -dev package that says its version, and
# the name shown (and given to its licence folder).
declare -gA dev=([zlib]=zlib1g-dev [png]=libpng-dev [jpeg]=libjpeg62-turbo-dev [openmpt]=libopenmpt-dev
                 [sdl2]=libsdl2-dev)
declare -gA name=([zlib]=zlib [png]=libpng [jpeg]=libjpeg-turbo [openmpt]=libopenmpt [sdl2]=SDL2)

# The -dev packages of the libraries in libs, one a line.
deps_dev_packages() {
  local l
  for l in "${libs[@]}"; do echo "${dev[$l]}"; done
}

# The scripts take no arguments but --help; their own usage() says what they do.
deps_options() {
  case "${1:-}" in
    -h | --help) usage; exit 0 ;;
    '') ;;
    *) usage >&2; exit 2 ;;
  esac
}

say() { printf '%s: %s\n' "$deps_tool" "$*" >&2; }
die() { say "error: $*"; exit 1; }

sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
as_root() {
  if [ ${#sudo_cmd[@]} -gt 0 ] && ! command -v sudo >/dev/null; then
    die "need root for: $*; run as root or install sudo"
  fi
  "${sudo_cmd[@]}" "$@"
}

# Installs those of the given Debian packages that are missing.
deps_install() {
  local installed p missing=()
  installed=$(dpkg-query -W -f='${Package} ${db:Status-Status}\n' "$@" 2>/dev/null || true)
  for p in "$@"; do
    grep -qxF "$p installed" <<<"$installed" || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    say "installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    as_root apt-get update -qq >&2
    as_root apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
  fi
}

# Reads, per library, the Debian source package and version of the installed -dev package into src
# and ver, and its upstream version into upstream. The key names upstream versions: a Debian revision
# bump (a security patch) does not make a build for another platform stale.
declare -gA src ver upstream candidates
deps_versions() {
  local l sources
  local -a packages
  mapfile -t packages < <(deps_dev_packages)
  sources=$(dpkg-query -W -f='${Package} ${source:Package} ${source:Version}\n' "${packages[@]}")
  for l in "${libs[@]}"; do
    read -r _ "src[$l]" "ver[$l]" < <(grep "^${dev[$l]} " <<<"$sources")
    upstream[$l]=$(upstream_version "${ver[$l]}")
  done
}

# The upstream release in a Debian version: no epoch, no Debian revision, no repack suffix such as
# +dfsg or .dfsg.
upstream_version() {
  grep -oE '^[0-9]+(\.[0-9]+)*' <<<"${1#*:}"
}

# "_<library>-<upstream version>" for every library, in order: the part of the cache key that names
# what is built.
deps_key_libs() {
  local l out=
  for l in "${libs[@]}"; do out+=_$l-${upstream[$l]}; done
  echo "$out"
}

# Prints the entry $1/$2 and exits when it is complete; otherwise waits for any other build of the
# same cache to finish (which may have completed it) and holds the cache's lock from then on. Sets
# root, key and final.
deps_enter_cache() {
  root=$(realpath -m "$1")
  key=$2
  final=$root/$key
  if [ -f "$final/.complete" ]; then
    echo "$final"
    exit 0
  fi
  mkdir -p "$root"
  exec 9>"$root/.lock"
  if ! flock -n 9; then
    say "waiting for another build of the $deps_what to finish…"
    flock 9
  fi
  if [ -f "$final/.complete" ]; then
    echo "$final"
    exit 0
  fi
}

# Each library is built into its own prefix under the stage and marked done only once installed,
# so a rerun after an interruption skips what was finished. The entry is assembled from those
# prefixes and renamed into place, so $final only ever exists complete. Sets stage, log and jobs.
deps_open_stage() {
  stage=$root/$key.partial
  mkdir -p "$stage"
  log=$stage/build.log
  : >"$log"
  jobs=$(nproc)
  current=
  open_line=
  interrupted=
  trap deps_on_exit EXIT
  trap 'interrupted=1; exit 130' INT
  trap 'interrupted=1; exit 143' TERM
}

deps_on_exit() {
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

# Orders the Debian revisions of one upstream version that may be built, best first: the installed
# version $1 itself when offered, then the other revisions of the same upstream version among the
# offered ones (standard input, one a line), newest first. The archive drops a revision once a
# security update replaces it, and a mirror may lack one it lists; any other upstream version would
# make this build differ from the native one, so it is never chosen.
order_candidates() {
  local installed=$1 v i offered sorted=()
  offered=$(sort -u)
  while read -r v; do
    [ -n "$v" ] && [ "$v" != "$installed" ] && [ "${v%-*}" = "${installed%-*}" ] || continue
    i=0
    while [ $i -lt ${#sorted[@]} ] && dpkg --compare-versions "${sorted[$i]}" gt "$v"; do i=$((i + 1)); done
    sorted=("${sorted[@]:0:$i}" "$v" "${sorted[@]:$i}")
  done <<<"$offered"
  grep -qxF "$installed" <<<"$offered" && sorted=("$installed" "${sorted[@]}")
  echo "${sorted[*]}"
}

# Fills candidates with what apt offers for each library; fails when one has none.
choose_sources() {
  local l
  for l in "${libs[@]}"; do
    candidates[$l]=$(apt-cache showsrc --only-source "${src[$l]}" 2>/dev/null | sed -n 's/^Version: //p' |
                     order_candidates "${ver[$l]}")
    [ -n "${candidates[$l]}" ] || return 1
  done
}

# Prints deb-src entries mirroring the deb entries for Debian release $1 (same archive, suites,
# components and signing key) in the given apt source files, leaving third-party repositories out.
# deb822 files (*.sources) and one-line files (*.list) give entries in their own format.
deb_src_entries() {
  local codename=$1 f
  shift
  for f in "$@"; do
    case "$f" in
      *.sources) awk -v c="$codename" '
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
        END { flush() }' "$f" ;;
      *) awk -v c="$codename" '
        $1 == "deb" {
          i = 2
          if ($2 ~ /^\[/) { while (i < NF && $i !~ /\]$/) i++; i++ }
          s = $(i + 1)
          if (s == c || index(s, c "-") == 1) { $1 = "deb-src"; print }
        }' "$f" ;;
    esac
  done
}

add_deb_src() {
  local codename f deb822 oneline files=()
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  [ -n "$codename" ] || die "cannot tell the Debian release from /etc/os-release"
  for f in /etc/apt/sources.list.d/*.sources; do [ -f "$f" ] && files+=("$f"); done
  deb822=$(deb_src_entries "$codename" "${files[@]}")
  files=()
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do [ -f "$f" ] && files+=("$f"); done
  oneline=$(deb_src_entries "$codename" "${files[@]}")
  [ -n "$deb822$oneline" ] || die "found no deb entry for Debian $codename in /etc/apt to mirror as deb-src"
  say "adding deb-src entries for Debian $codename to /etc/apt/sources.list.d/narvu-deb-src.*"
  if [ -n "$deb822" ]; then
    printf '%s\n' "$deb822" | as_root tee /etc/apt/sources.list.d/narvu-deb-src.sources >/dev/null
  fi
  if [ -n "$oneline" ]; then
    printf '%s\n' "$oneline" | as_root tee /etc/apt/sources.list.d/narvu-deb-src.list >/dev/null
  fi
}

# Makes sure apt can fetch every library's source, adding deb-src entries when apt has none.
deps_sources() {
  choose_sources && return 0
  if ! grep -qsE '^[[:space:]]*(deb-src[[:space:]]|Types:.*[[:space:]]deb-src([[:space:]]|$))' \
      /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; then
    add_deb_src
  fi
  say "updating apt's package lists for Debian's sources"
  as_root apt-get update -qq >>"$log" 2>&1 || die "apt-get update failed; see $log"
  if ! choose_sources; then
    local l
    for l in "${libs[@]}"; do
      say "wanted: source ${src[$l]} ${ver[$l]%-*} (that of the installed ${dev[$l]} ${ver[$l]})"
    done
    die "Debian's archive does not offer all of these sources; after 'apt-get upgrade' the installed -dev packages may match what it offers"
  fi
}

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

# pkg-config files relative to their own place, so the prefix stays valid wherever it is moved.
# Arguments: the file, the package's name, version, libraries, and the packages it requires.
write_pc() {
  mkdir -p "$(dirname "$1")"
  cat >"$1" <<EOF
prefix=\${pcfiledir}/../..
libdir=\${prefix}/lib
includedir=\${prefix}/include

Name: $2
Description: $2 built for $deps_target
Version: $3
${5:+Requires.private: $5
}Libs: -L\${libdir} $4
Cflags: -I\${includedir}
EOF
}

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

# Builds every library not yet done in the stage, each into $stage/<library>.
deps_build_all() {
  local l start built note
  for l in "${libs[@]}"; do
    [ -f "$stage/$l/.done" ] && continue
    current="building ${name[$l]} ${upstream[$l]}"
    printf '%s' "$deps_tool: $current for $deps_target ($(estimate "$l"))… " >&2
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
}

# Merges the libraries' prefixes into $stage/prefix, taking only the given folders of each (those a
# library has), and makes their pkg-config files relative. Sets prefix.
deps_assemble() {
  local l d f
  current="assembling the prefix"
  prefix=$stage/prefix
  rm -rf "$prefix"
  mkdir -p "$prefix/include" "$prefix/lib"
  for l in "${libs[@]}"; do
    for d in "$@"; do
      [ -d "$stage/$l/$d" ] || continue
      mkdir -p "$prefix/$d"
      cp -a "$stage/$l/$d/." "$prefix/$d/"
    done
  done
  rm -f "$prefix"/lib/*.la
  # The installed pkg-config files name the stage as their prefix.
  for f in "$prefix"/lib/pkgconfig/*.pc; do
    sed -i 's|^prefix=.*|prefix=${pcfiledir}/../..|' "$f"
  done
  if grep -rlI -- "$stage" "$prefix" >&2; then
    die "the files above still name the stage folder"
  fi
}

# Stamps the assembled prefix complete, naming what built it ($*), moves it into place and prints it.
deps_finish() {
  local l
  {
    echo "$key built $(date -u +%Y-%m-%dT%H:%M:%SZ) $* from Debian's sources:"
    for l in "${libs[@]}"; do cat "$stage/$l/.done"; done
  } >"$prefix/.complete"
  rm -rf "$final"
  mv -T "$prefix" "$final"
  rm -rf "$stage"
  say "$deps_what ready in $final"
  echo "$final"
}
