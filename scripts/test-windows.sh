#!/usr/bin/env bash
# The Windows build's tests, which ./test.sh runs once (not under the sanitizers, whose build is not
# the Windows one): builds build-windows/ with its test programs (scripts/build-windows.sh --tests), then
# runs them under Wine, on an X screen (Xvfb) and with a wineserver started and stopped by their PIDs, in
# the Wine prefix kept in the cache (scripts/wine-session.sh):
#   - narvu.exe beside the native show in build/: its version; the PNG frames and audio.wav of an
#     interval, byte for byte, in one process and with --jobs 2; the bare show with narvu.dat beside it,
#     started from a folder whose name holds a space and a non-ASCII letter, capturing into another;
#     a video through a stand-in ffmpeg.exe (the frames through the pipe, the music through the mux),
#     and the one-line refusal without ffmpeg.exe; live play full screen and in a window (screenshots
#     that are not black), Esc; no sound device; Ctrl-C typed into a console it runs on;
#   - the test programs under ctest, with Wine as their emulator.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
started=$SECONDS
scripts/install-deps.sh --tests
build_log=$(mktemp)
if ! { scripts/build-windows.sh --tests && cmake --build build -j"$(nproc)" --target narvu; } >"$build_log" 2>&1; then
  cat "$build_log" >&2
  echo "test-windows.sh: the build failed; its output is above" >&2
  rm -f "$build_log"
  exit 1
fi
rm -f "$build_log"
build_seconds=$((SECONDS - started))

unset SDL_VIDEODRIVER SDL_AUDIODRIVER
# shellcheck source=scripts/wine-session.sh
. scripts/wine-session.sh
run() { wine_run "$@"; }
win=$root/build-windows
tmp=$(mktemp -d)
trap 'wine_session_stop; rm -rf "$tmp"' EXIT
wine_session_start "$tmp"
test_started=$SECONDS

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
pass() { echo "ok: $*" >&2; }
# Every file of folder $1 the same bytes as in folder $2 (which may hold more).
same_files() {
  local file bad=0
  for file in "$1"/*; do cmp -s "$file" "$2/${file##*/}" || { echo "  differs: ${file##*/}" >&2; bad=1; }; done
  [ "$bad" = 0 ] && [ -n "$(ls -A "$1")" ]
}
native() { SDL_VIDEODRIVER=offscreen SDL_AUDIODRIVER=dummy "$root/build/narvu" "$@"; }
no_cr() { tr -d '\r'; }

# ---- The version ----------------------------------------------------------------------------------------
got=$(run "$win/narvu.exe" --version | no_cr)
want=$(native --version)
[ "$got" = "$want" ] && pass "--version: $got" || fail "--version says '$got', the native show '$want'"

# ---- PNG frames and music of an interval across the scenes' switch --------------------------------------
interval=(--fps 5 --from 57 --to 63)
native --capture "$tmp/native" "${interval[@]}" 2>/dev/null
if run "$win/narvu.exe" --capture "$tmp/one" "${interval[@]}" 2>"$tmp/one.log" && same_files "$tmp/one" "$tmp/native" &&
   [ "$(ls "$tmp/one" | wc -l)" = "$(ls "$tmp/native" | wc -l)" ]; then
  pass "a PNG capture of 57-63 s at 5 frames/s is the native one, byte for byte ($(ls "$tmp/one" | wc -l) files)"
else
  fail "the PNG capture differs from the native one: $(no_cr <"$tmp/one.log")"
fi
if run "$win/narvu.exe" --capture "$tmp/jobs" "${interval[@]}" --jobs 2 2>"$tmp/jobs.log" &&
   same_files "$tmp/jobs" "$tmp/native" && [ "$(ls "$tmp/jobs" | wc -l)" = "$(ls "$tmp/native" | wc -l)" ]; then
  pass "the same with --jobs 2: two Windows processes, joined"
else
  fail "the capture with --jobs 2 differs from the native one: $(no_cr <"$tmp/jobs.log")"
fi

# ---- The bare show with the pack beside it, in and to folders with a space and a non-ASCII letter --------
short=(--fps 5 --from 60 --to 60.4)
native --capture "$tmp/native-short" "${short[@]}" 2>/dev/null
stage="$tmp/Bühne 1"
mkdir -p "$stage"
cp "$win/narvu-bare.exe" "$win/narvu.dat" "$stage/"
if (cd "$stage" && run ./narvu-bare.exe --capture "Bilder ä" "${short[@]}" 2>"$tmp/bare.log") &&
   same_files "$stage/Bilder ä" "$tmp/native-short"; then
  pass "narvu-bare.exe finds narvu.dat beside it in 'Bühne 1' and writes 'Bilder ä' as natively"
else
  fail "the bare show in 'Bühne 1': $(no_cr <"$tmp/bare.log")"
fi

# ---- Video: through ffmpeg.exe on the PATH, or refused without it ---------------------------------------
# The stand-in writes what reached it: the raw frames from the pipe, then the music given to the mux.
for frame in "$tmp/native-short"/frame_*.png; do convert "$frame" rgb:-; done >"$tmp/expected.video"
cat "$tmp/expected.video" "$tmp/native-short/audio.wav" >"$tmp/expected.mp4"
mkdir -p "$tmp/vidéo x"
if WINEPATH=$(run winepath -w "$win/tests/stand-in" | no_cr) run "$win/narvu.exe" --capture "$tmp/vidéo x/clip.mp4" \
     "${short[@]}" 2>"$tmp/video.log" && cmp -s "$tmp/vidéo x/clip.mp4" "$tmp/expected.mp4" &&
   [ "$(ls "$tmp/vidéo x")" = clip.mp4 ]; then
  pass "--capture 'vidéo x/clip.mp4' pipes the native frames to ffmpeg.exe and gives it the native music"
else
  fail "the video through the stand-in ffmpeg.exe: $(no_cr <"$tmp/video.log"); $(ls "$tmp/vidéo x")"
fi
status=0
run "$win/narvu.exe" --capture "$tmp/refused.mp4" 2>"$tmp/refused.log" || status=$?
refusal=$(no_cr <"$tmp/refused.log")
if [ "$status" = 1 ] && [ "$(printf '%s\n' "$refusal" | wc -l)" = 1 ] && [[ "$refusal" == *"not on the PATH"* ]]; then
  pass "without ffmpeg.exe: exit 1 and one line: $refusal"
else
  fail "without ffmpeg.exe: exit $status and '$refusal'"
fi

# ---- Live play ---------------------------------------------------------------------------------------------
# Whether a screenshot holds a picture: its mean level, and the size of what is not black.
mean_level() { convert "$1" -format '%[fx:int(mean*255)]' info:; }
picture_size() { convert "$1" -trim -format '%w %h' info:; }
shot() { import -display "$DISPLAY" -window root "$1"; }
same_picture() { [ "$(compare -metric AE "$1" "$2" null: 2>&1)" = 0 ]; }
run "$win/narvu.exe" nosound >"$tmp/live.log" 2>&1 &
show=$!
sleep 6
shot "$tmp/full.png"
# Space holds the picture until it is pressed again.
xdotool key space
sleep 0.5
shot "$tmp/paused.png"
sleep 1
shot "$tmp/still-paused.png"
xdotool key space
sleep 1
shot "$tmp/going-on.png"
if same_picture "$tmp/paused.png" "$tmp/still-paused.png" && ! same_picture "$tmp/still-paused.png" "$tmp/going-on.png"; then
  pass "Space pauses the show and goes on with it"
else
  fail "Space: the paused pictures differ, or the show did not go on"
fi
xdotool key alt+Return
sleep 2
shot "$tmp/window.png"
xdotool key Escape
status=0
wait $show || status=$?
full=$(mean_level "$tmp/full.png")
read -r width height <<<"$(picture_size "$tmp/window.png")"
if [ "$status" = 0 ] && [ "$full" -gt 40 ] && [ "$width" -le 640 ] && [ "$height" -le 480 ] && [ "$width" -gt 400 ] &&
   [ "$(mean_level "$tmp/window.png")" -gt 10 ]; then
  pass "live play: full screen (mean level $full), Alt+Enter to a ${width}x$height window, Esc ends it with 0"
else
  fail "live play: exit $status, full screen's mean level $full, the window's picture ${width}x$height: $(no_cr <"$tmp/live.log")"
fi
run "$win/narvu.exe" --windowed >"$tmp/nosound.log" 2>&1 &
show=$!
for _ in $(seq 100); do box=$(xdotool search --name 'DEMO - FMOD error' | head -n 1) && break; sleep 0.1; done
shot "$tmp/box.png"
xdotool windowfocus "$box"
sleep 0.2
xdotool key Return
status=0
wait $show || status=$?
line=$(no_cr <"$tmp/nosound.log")
if [ "$status" = 1 ] && [ "$(printf '%s\n' "$line" | wc -l)" = 1 ] && [[ "$line" == "narvu: no sound output ("* ]] &&
   [ "$(mean_level "$tmp/box.png")" -gt 0 ]; then
  pass "no sound device: one line, a box, and exit 1 once it is answered: $line"
else
  fail "no sound device: exit $status, '$line'"
fi

# ---- Ctrl-C in the console ------------------------------------------------------------------------------
# wineconsole gives console_run.exe a console window, on which narvu.exe runs as under a Command Prompt;
# Ctrl-C is typed into that window, as a viewer would type it. (Closing the window is not tried: Wine 8
# sends no CTRL_CLOSE_EVENT, and ends the programs on a closed console at once.)
w() { run winepath -w "$1" | no_cr; }
# A capture in folder $1 with the options after it, Ctrl-C typed once its fourth frame is there.
ctrl_c_in_console() {
  local folder=$1 result output frames whole=1 frame
  shift
  mkdir -p "$folder"
  run wineconsole "$(w "$win/tests/console_run.exe")" "$(w "$folder/result")" "$(w "$folder/output")" \
    "$(w "$win/narvu.exe")" --capture "$(w "$folder/frames")" --fps 10 --to 30 "$@" >/dev/null 2>&1 &
  local console=$!
  for _ in $(seq 600); do [ -f "$folder/frames/frame_000003.png" ] && break; sleep 0.1; done
  xdotool windowfocus "$(xdotool search --name 'console_run' | head -n 1)"
  sleep 0.2
  xdotool key ctrl+c
  wait $console || true
  result=$(no_cr <"$folder/result" 2>/dev/null || echo "no result")
  output=$(no_cr <"$folder/output" 2>/dev/null || true)
  frames=$(ls "$folder/frames" | grep -c '^frame_.*png$' || true)
  for frame in "$folder/frames"/frame_*.png; do identify "$frame" >/dev/null 2>&1 || whole=0; done
  if [ "$result" = "exit 130" ] && [[ "$output" == *"interrupted by SIGINT"* ]] && [ "$whole" = 1 ] &&
     [ "$frames" -lt 301 ] && [ -s "$folder/frames/audio.wav" ]; then
    pass "Ctrl-C in the console${*:+ with $*}: exit 130, $frames whole frames and their music"
  else
    fail "Ctrl-C in the console${*:+ with $*}: '$result', $frames frames, whole: $whole; $(printf '%s' "$output" | tail -n 3)"
  fi
}
ctrl_c_in_console "$tmp/console"
ctrl_c_in_console "$tmp/console-jobs" --jobs 2
show_seconds=$((SECONDS - test_started))
# The screenshots stay for a look: build-windows/test-screenshots/.
mkdir -p "$win/test-screenshots"
cp "$tmp/full.png" "$tmp/window.png" "$tmp/box.png" "$win/test-screenshots/"


# ---- The test programs ------------------------------------------------------------------------------------
ctest_started=$SECONDS
ctest_log=$tmp/ctest.log
if (cd "$win" && SDL_AUDIODRIVER=dummy ctest -j"$(nproc)" --timeout 300 --output-on-failure >"$ctest_log" 2>&1); then
  pass "under Wine: $(grep -E '^[0-9]+% tests passed' "$ctest_log")"
else
  cat "$ctest_log" >&2
  fail "the test programs under Wine"
fi
echo "windows tests: the show's $show_seconds s, the test programs' $((SECONDS - ctest_started)) s;" \
  "the build $build_seconds s" >&2
[ "$failures" = 0 ]
