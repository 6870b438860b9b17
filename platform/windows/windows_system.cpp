// The system side on Windows (see platform/backend.h): Sleep, the end signals as console control events,
// the program's path and its parent's console. Windows' own calls are made in windows_calls.cpp.
#include <chrono>
#include <thread>

#include "platform/platform_local.h"
#include "platform/windows/windows_local.h"

// Real time, whatever clock GetTickCount follows.
void Sleep(DWORD milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

std::string programPath() { return executablePath(); }

// The libraries behind SDL on Windows say nothing on standard error while a device opens.
int quietStandardError() { return -1; }
void restoreStandardError(int) {}

// SDL's message box belongs to this process on Windows; the capture's child processes end with the
// show through their job object (capture/windows/).
void endChildProcesses() {}

// Windows' GL drivers have no switch to software.
void askForSoftwareGl() {}

void attachParentConsole() { takeParentConsole(); }

void catchEndSignals() { watchConsoleEvents(noteEndSignal); }

// Console events arrive on a thread Windows starts for each; no thread of the show's is interrupted.
void leaveEndSignalsToMainThread() {}

// Windows has no EGL, so no offscreen driver: a capture draws into a hidden window of SDL's own driver.
const char* headlessVideoDriver() { return nullptr; }
