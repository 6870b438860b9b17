#!/usr/bin/env bash
# Builds the page (scripts/build-web.sh) and serves build-web/ on 127.0.0.1 until Ctrl-C, printing the
# address to open; with --lan on every address of this machine, for a phone or a TV on the same network.
# ./run.sh --web runs it.
#   scripts/serve-web.sh [--port N] [--lan] [--verbose]   (port 8000 by default; the build's output only
#                                                         when it fails, or with --verbose)
set -euo pipefail
cd "$(dirname "$0")/.."

port=8000
verbose=0
bind=127.0.0.1
while [ $# -gt 0 ]; do
  case "$1" in
    --port)
      port="${2:-}"
      if ! [[ "$port" =~ ^[0-9]+$ ]] || [ "$port" -lt 1 ] || [ "$port" -gt 65535 ]; then
        echo "narvu: --port takes a port number from 1 to 65535, not '${2:-}'" >&2
        exit 2
      fi
      shift ;;
    --lan) bind=0.0.0.0 ;;
    --verbose) verbose=1 ;;
    -h | --help) sed -n '2,6s/^# \{0,1\}//p' "$0"; exit 0 ;;
    *) echo "narvu: unknown option '$1' for --web (--port N, --lan, --verbose)" >&2; exit 2 ;;
  esac
  shift
done

if ! python3 -c "import socket, sys; socket.socket().bind((sys.argv[2], int(sys.argv[1])))" "$port" "$bind" 2>/dev/null; then
  echo "narvu: port $port on $bind is taken or not allowed; choose another with --port N" >&2
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
if [ "$bind" = 127.0.0.1 ]; then
  echo "narvu: the show is at http://127.0.0.1:$port/ (Ctrl-C stops the server)"
else
  # This machine's addresses on its networks, but the loopback's.
  addresses=$(hostname -I 2>/dev/null | tr ' ' '\n' | grep -v -e '^$' -e '^127\.' -e '^::1$' || true)
  echo "narvu: the show is at http://127.0.0.1:$port/ on this machine, with sound (Ctrl-C stops the server)"
  if [ -z "$addresses" ]; then
    echo "narvu: this machine has no address on a network: other devices cannot reach it"
  fi
  for address in $addresses; do
    [[ "$address" == *:* ]] && address="[$address]"
    echo "narvu: other devices on the network: http://$address:$port/"
  done
  echo "narvu: browsers give a page from another machine sound only over https, so they get the picture" \
       "without the music; for sound there, serve build-web/ over https (README.md, In a web browser)"
fi
exec python3 -m http.server "$port" --bind "$bind" --directory "$site"
