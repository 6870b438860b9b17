// Inside the Windows system backend only (platform/windows/): the calls into Windows, which
// windows_calls.cpp alone makes. <windows.h> has a DWORD, an HWND and a MSG of its own, which would
// clash with the stand-ins' (platform/win32.h), so this header speaks in plain types, and the files
// that give the backend's contract (platform/backend.h, win32.h) never include <windows.h>.
#pragma once

#include <string>

// The running executable's path, in UTF-8; empty when Windows cannot tell it.
std::string executablePath();
// Attaches this process to its parent's console, when it has none of its own and the parent has one,
// and points the standard output and error streams that were not redirected at it.
void takeParentConsole();
// From now on Ctrl-C and Ctrl-Break in the console are `note(SIGINT)`; its closing, a log-off and a
// shut-down `note(SIGTERM)`, after which the process has the few seconds Windows gives to end by
// itself. `note` runs on the thread Windows starts for the event.
void watchConsoleEvents(void (*note)(int signal_number));
