#!/usr/bin/env bash
# Builds the page (scripts/build-web.sh) and serves build-web/ on 127.0.0.1 until Ctrl-C, printing the
# address to open. ./run.sh --web runs it.
#   scripts/serve-web.sh [--port N]    (default 8000)
set -euo pipefail
cd "$(dirname "$0")/.."

port=8000
while [ $# -gt 0 ]; do
  case "$1" in
    --port)
      port="${2:-}"
      if ! [[ "$port" =~ ^[0-9]+$ ]] || [ "$port" -lt 1 ] || [ "$port" -gt 65535 ]; then
        echo "narvu: --port takes a port number from 1 to 65535, not '${2:-}'" >&2
        exit 2
      fi
      shift ;;
    -h | --help) sed -n '2,4s/^# \{0,1\}//p' "$0"; exit 0 ;;
    *) echo "narvu: unknown option '$1' for --web (only --port N)" >&2; exit 2 ;;
  esac
  shift
done

if ! python3 -c "import socket, sys; socket.socket().bind(('127.0.0.1', int(sys.argv[1])))" "$port" 2>/dev/null; then
  echo "narvu: port $port on 127.0.0.1 is taken or not allowed; choose another with --port N" >&2
  exit 1
fi
site=$(scripts/build-web.sh | tail -n 1)
echo "narvu: the show is at http://127.0.0.1:$port/ (Ctrl-C stops the server)"
exec python3 -m http.server "$port" --bind 127.0.0.1 --directory "$site"
