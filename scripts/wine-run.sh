#!/usr/bin/env bash
# Runs a Windows program of the Windows build under Wine: ctest's emulator for the test programs
# (cmake/windows-libraries.cmake), and the Windows test's (scripts/test-windows.sh). Wine's own chatter
# is silenced, and Wine offers no Mono or Gecko.
#   scripts/wine-run.sh PROGRAM.exe [ARGUMENTS...]
# WINEPREFIX is the prefix to run in (default: the cached one that scripts/test-windows.sh makes);
# DISPLAY the X screen that windows and GL contexts need.
#
# SDL_VIDEODRIVER=offscreen, which the tests name to run without a screen, is honoured by the show on
# Windows with hidden windows of SDL's own driver (Windows has no EGL for the offscreen one).
set -euo pipefail
export WINEPREFIX=${WINEPREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/narvu/wine-prefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
# Debian's Wine has no preloader to keep Windows' fixed addresses free, so with the address space
# randomised a program now and then finds one taken and ends at once with exit code 1 ("failed to map
# the shared user data", which -all silences): about one start in 1,500, a failed test every ten or so
# runs of the suite. Without randomisation the layout is the same every time, and that one is free. Its
# children (a test's narvu.exe) inherit it. Where the system refuses it, the program runs as it is.
if setarch "$(uname -m)" -R true 2>/dev/null; then
  exec setarch "$(uname -m)" -R /usr/lib/wine/wine64 "$@"
fi
exec /usr/lib/wine/wine64 "$@"
