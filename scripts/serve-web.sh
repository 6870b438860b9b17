#!/usr/bin/env bash
# Builds the page (scripts/build-web.sh) and serves build-web/ on 127.0.0.1 until Ctrl-C, printing the
# address to open. ./run.sh --web runs it.
#   scripts/serve-web.sh [--port N] [--verbose]   (port 8000 by default; the build's output only when
#                                                 it fails, or with --verbose)
set -euo pipefail
cd "$(dirname "$0")/.."

port=8000
verbose=0
while [ $# -gt 0 ]; do
  case "$1" in
    --port)
      port="${2:-}"
      if ! [[ "$port" =~ ^[0-9]+$ ]] || [ "$port" -lt 1 ] || [ "$port" -gt 65535 ]; then
        echo "narvu: --port takes a port number from 1 to 65535, not '${2:-}'" >&2
        exit 2
      fi
      shift ;;
    --verbose) verbose=1 ;;
    -h | --help) sed -n '2,5s/^# \{0,1\}//p' "$0"; exit 0 ;;
    *) echo "narvu: unknown option '$1' for --web (--port N, --verbose)" >&2; exit 2 ;;
  esac
  shift
done

if ! python3 -c "import socket, sys; socket.socket().bind(('127.0.0.1', int(sys.argv[1])))" "$port" 2>/dev/null; then
  echo "narvu: port $port on 127.0.0.1 is taken or not allowed; choose another with --port N" >&2
  exit 1
fi
if [ "$verbose" = 1 ]; then
  site=$(scripts/build-web.sh | tail -n 1)
else
  # Someone who wants to watch has no use for a page of build progress, unless it failed.
  echo "narvu: building the page (the first time also its libraries, some minutes)" >&2
  log=$(mktemp)
  status=0
  site=$(scripts/build-web.sh 2>"$log" | tail -n 1) || status=$?
  if [ "$status" != 0 ]; then
    cat "$log" >&2
    echo "narvu: the page's build failed (exit code $status); its output is above" >&2
    rm -f "$log"
    exit "$status"
  fi
  rm -f "$log"
fi
echo "narvu: the show is at http://127.0.0.1:$port/ (Ctrl-C stops the server)"
exec python3 -m http.server "$port" --bind 127.0.0.1 --directory "$site"
