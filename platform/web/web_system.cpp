// The page's system side (see platform/backend.h); Sleep is a turn of the browser (web_turns.cpp).
// A page has no signals, no executable of its own and no processes: the viewer ends the show with
// Esc, or by leaving the page; where there is no window to take Esc (--music-only, a capture), the
// page's Stop asks the show to end as SIGINT would, through narvuEndSignal.
#include <emscripten.h>

#include <csignal>

#include "platform/web/web_local.h"

extern "C" EMSCRIPTEN_KEEPALIVE void narvuEndSignal() { noteEndSignal(SIGINT); }

void catchEndSignals() {}
void leaveEndSignalsToMainThread() {}

std::string programPath() { return ""; }

// The page's standard error is the browser's console, which the libraries do not fill.
int quietStandardError() { return -1; }
void restoreStandardError(int) {}

void endChildProcesses() {}

// WebGL draws as the browser chooses.
void askForSoftwareGl() {}

// The page's standard streams are the browser's console already.
void attachParentConsole() {}
