# A Wine session for the Windows build's test and benchmark (scripts/test-windows.sh, bench/windows.sh),
# sourced by them: an X screen (Xvfb) and a persistent wineserver, both started here and stopped by their
# PIDs, in the Wine prefix kept in the cache, which is made on first use (about 15 s, 700 MB). One session
# at a time on this machine: they share the prefix and its wineserver.
#   wine_session_start FOLDER   (a scratch folder of the caller's; exports DISPLAY, WINEPREFIX, ...)
#   wine_run PROGRAM.exe [ARGUMENTS...]
#   wine_session_stop           (the caller's exit trap calls it)
wine_bin=/usr/lib/wine
wine_cache=${XDG_CACHE_HOME:-$HOME/.cache}/narvu
wine_scripts=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
wine_xvfb_pid=
wine_server_pid=

wine_run() { "$wine_scripts/wine-run.sh" "$@"; }

wine_session_stop() {
  "$wine_bin/wineserver" -k 2>/dev/null || true
  # Either may have ended already (wineserver -k ends the server too).
  local pid
  for pid in $wine_server_pid $wine_xvfb_pid; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  wine_server_pid=
  wine_xvfb_pid=
  return 0
}

wine_session_start() {
  local folder=$1
  export WINEPREFIX=$wine_cache/wine-prefix WINEDEBUG=-all
  # No Mono or Gecko; no ALSA driver, whose library would fill standard error with its own complaints
  # about a missing sound card (Windows' sound then has no device, as on such a machine).
  export WINEDLLOVERRIDES='mscoree,mshtml,winealsa.drv='
  mkdir -p "$wine_cache"
  exec 9>"$wine_cache/wine-prefix.lock"
  flock -w 900 9 || { echo "narvu: another Wine session holds $wine_cache/wine-prefix.lock" >&2; return 1; }
  "$wine_bin/wineserver" -k 2>/dev/null || true  # one that a killed session left
  if [ ! -f "$WINEPREFIX/narvu-prefix-made" ]; then
    rm -rf "$WINEPREFIX"
    wine_run wineboot -i >/dev/null 2>&1 9>&-
    "$wine_bin/wineserver" -w
    touch "$WINEPREFIX/narvu-prefix-made"
  fi
  # The lock is the session's own: nothing it starts may hold it after it has ended (9>&-).
  Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp -br -noreset 5>"$folder/display" >/dev/null 2>&1 9>&- &
  wine_xvfb_pid=$!
  for _ in $(seq 100); do [ -s "$folder/display" ] && break; sleep 0.1; done
  [ -s "$folder/display" ] || { echo "narvu: Xvfb did not start" >&2; return 1; }
  export DISPLAY=:$(head -n 1 "$folder/display")
  # The server stays for the whole session, so that each program starts in a few milliseconds; the
  # prefix's own processes (services, the desktop) start once, apart from any program whose output is
  # read, which they would otherwise hold open.
  "$wine_bin/wineserver" -f -p >/dev/null 2>&1 9>&- &
  wine_server_pid=$!
  wine_run cmd /c exit >/dev/null 2>&1 </dev/null 9>&-
}
