#!/usr/bin/env bash
# Tests scripts/deps-common.sh, which the web and Windows library builds share: the choice of Debian
# sources, the deb-src entries it would add, and the cache's stages, log, lock and resumption, the
# latter with stand-in libraries so that nothing is fetched or compiled.
#   bash tests/deps_common_test.sh
set -uo pipefail
common=$(cd "$(dirname "$0")/../scripts" && pwd)/deps-common.sh
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
expect() { [ "$2" = "$3" ] || fail "$1: got '$2', want '$3'"; }

# --- Which Debian sources stand for an installed version ---------------------------------------
deps_tool=deps-common-test
# shellcheck source=scripts/deps-common.sh
. "$common"
expect "epoch and repack suffix" "$(upstream_version 1:1.2.13.dfsg-1)" 1.2.13
expect "+dfsg" "$(upstream_version 2.26.5+dfsg-1)" 2.26.5
expect "installed first, then newest" \
  "$(printf '%s\n' 1.6.39-2+deb12u5 1.6.40-1 1.6.39-2+deb12u4 1.6.39-2 1.6.39-2+deb12u5 1.6.39-2+deb12u10 |
     order_candidates 1.6.39-2+deb12u4)" "1.6.39-2+deb12u4 1.6.39-2+deb12u10 1.6.39-2+deb12u5 1.6.39-2"
expect "installed gone from the archive" \
  "$(printf '%s\n' 1.6.39-2+deb12u5 1.6.39-2+deb12u6 | order_candidates 1.6.39-2+deb12u4)" \
  "1.6.39-2+deb12u6 1.6.39-2+deb12u5"
expect "epochs kept, other upstream versions never" \
  "$(printf '%s\n' 1:1.2.13.dfsg-1+deb12u1 1:1.3-1 1:1.2.12.dfsg-1 | order_candidates 1:1.2.13.dfsg-1)" \
  "1:1.2.13.dfsg-1+deb12u1"
expect "nothing offered" "$(order_candidates 0.6.9-1 </dev/null)" ""

# --- deb-src entries mirror the release's own deb entries only -----------------------------------
cat >"$tmp/debian.sources" <<'EOF'
Types: deb
URIs: http://deb.example/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb
URIs: https://vendor.example/node
Suites: nodistro
Components: main

Types: deb deb-src
URIs: http://deb.example/debian-security
Suites: bookworm-security
Components: main contrib
EOF
cat >"$tmp/sources.list" <<'EOF'
deb [signed-by=/k.gpg arch=amd64] http://deb.example/debian bookworm main
deb http://vendor.example/apt cloud-sdk-bookworm main
# deb http://deb.example/debian bookworm-backports main
deb-src http://deb.example/debian bookworm main
EOF
expect "deb822 entries" "$(deb_src_entries bookworm "$tmp/debian.sources")" "Types: deb-src
URIs: http://deb.example/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb-src
URIs: http://deb.example/debian-security
Suites: bookworm-security
Components: main contrib"
  expect "one-line entries" "$(deb_src_entries bookworm "$tmp/sources.list")" \
    "deb-src [signed-by=/k.gpg arch=amd64] http://deb.example/debian bookworm main"
expect "another release's" "$(deb_src_entries trixie "$tmp/debian.sources" "$tmp/sources.list")" ""

# --- The cache: stages, log, resumption, lock ----------------------------------------------------
# A build of two stand-in libraries through the shared machinery; b's installed revision is gone from
# the archive. FAIL_B makes b's build fail; LEAK makes a's header name the stage folder. builds.txt
# counts the builds.
cat >"$tmp/build.sh" <<EOF
#!/usr/bin/env bash
set -euo pipefail
deps_tool=fake-deps deps_what="fake dependencies" deps_target=nowhere
libs=(a b)
declare -A cost=([a]=1 [b]=1) parallel=([a]=0 [b]=0)
. "$common"
# Stand-ins for the real libraries' packages and names, which deps-common.sh holds.
dev=([a]=a-dev [b]=b-dev) name=([a]=A [b]=B)
src=([a]=a-src [b]=b-src) ver=([a]=1:1.0-2 [b]=2.0-1) upstream=([a]=1.0 [b]=2.0)
candidates=([a]=1:1.0-2 [b]="2.0-1+u1 2.0-1+u0")
unpack() { mkdir -p "\$2/src"; echo "\${candidates[\$1]%% *}" >"\$2/version"; }
build_a() {
  echo a >>"$tmp/builds.txt"
  mkdir -p "\$2/include"
  echo "#define A_DIR \"\${LEAK:+\$stage}\"" >"\$2/include/a.h"
  mkdir -p "\$2/lib/pkgconfig" && printf 'prefix=%s\nLibs: -la\n' "\$2" >"\$2/lib/pkgconfig/a.pc"
}
build_b() {
  echo b >>"$tmp/builds.txt"
  [ -z "\${FAIL_B:-}" ] || { echo "b.c:1: error: the compiler is unhappy"; exit 1; }
  mkdir -p "\$2/lib" "\$2/share/licenses/B" && echo b >"\$2/lib/libb.a" && echo free >"\$2/share/licenses/B/L"
}
deps_enter_cache "$tmp/cache" fake\$(deps_key_libs)
deps_open_stage
deps_build_all
deps_assemble include lib share/licenses
deps_finish "by hand"
EOF
entry=$tmp/cache/fake_a-1.0_b-2.0
run() { bash "$tmp/build.sh" >"$tmp/out" 2>"$tmp/err"; }

FAIL_B=1 run && fail "a failing library's build succeeded"
grep -q "building B 2.0 failed; the end of $entry.partial/build.log:" "$tmp/err" ||
  fail "the failure names no log: $(cat "$tmp/err")"
grep -q "the compiler is unhappy" "$tmp/err" || fail "the failure does not show the end of the log"
grep -q "finished libraries are kept" "$tmp/err" || fail "the kept stage is not mentioned"
[ -e "$entry" ] && fail "a failed build left an entry"
[ -f "$entry.partial/build.log" ] || fail "the log is not kept beside the entry"

run || fail "the rerun failed: $(cat "$tmp/err")"
expect "libraries built over both runs" "$(tr '\n' ' ' <"$tmp/builds.txt")" "a b b "
expect "last line of standard output" "$(tail -n 1 "$tmp/out")" "$entry"
[ -f "$entry/.complete" ] && [ ! -e "$entry.partial" ] || fail "the entry is not complete, or its stage remains"
grep -qx "b-src 2.0-1+u1" "$entry/.complete" || fail "the stamp does not name the revision built"
grep -q "the archive no longer has the installed 2.0-1" "$tmp/err" || fail "the fallback revision is not told"
expect "pkg-config prefix" "$(head -n 1 "$entry/lib/pkgconfig/a.pc")" 'prefix=${pcfiledir}/../..'
[ -f "$entry/share/licenses/B/L" ] && [ -f "$entry/lib/libb.a" ] || fail "the prefix misses a library's folders"

run || fail "the warm run failed"
expect "warm run's output" "$(cat "$tmp/out")" "$entry"
expect "builds after the warm run" "$(wc -l <"$tmp/builds.txt")" 3

# Another build holding the lock makes this one wait, then find the entry it made.
rm -rf "$entry"
flock "$tmp/cache/.lock" bash -c "sleep 1; mkdir -p '$entry' && touch '$entry/.complete'" &
sleep 0.3
run || fail "the waiting run failed"
wait
grep -q "waiting for another build of the fake dependencies" "$tmp/err" || fail "no word of the wait"
expect "entry made meanwhile" "$(cat "$tmp/out")" "$entry"
expect "builds after waiting" "$(wc -l <"$tmp/builds.txt")" 3

rm -rf "$tmp/cache"
LEAK=1 run && fail "a prefix naming the stage folder was accepted"
grep -q "still name the stage folder" "$tmp/err" || fail "the stage leak is not told: $(cat "$tmp/err")"

[ $failures -eq 0 ] && echo "deps-common: all passed" || exit 1
