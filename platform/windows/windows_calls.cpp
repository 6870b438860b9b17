// The Windows system backend's calls into Windows (see windows_local.h): the executable's path, the
// parent's console and its control events.
#include <windows.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/windows/windows_local.h"

static std::string utf8(const wchar_t* text, int length) {
  int bytes = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
  std::string converted(size_t(bytes > 0 ? bytes : 0), '\0');
  if (bytes > 0) WideCharToMultiByte(CP_UTF8, 0, text, length, &converted[0], bytes, nullptr, nullptr);
  return converted;
}

std::string executablePath() {
  // Windows truncates a path that does not fit without failing: grow until it fits.
  std::vector<wchar_t> path(MAX_PATH);
  while (path.size() <= 32768) {
    DWORD length = GetModuleFileNameW(nullptr, path.data(), DWORD(path.size()));
    if (length == 0) return "";
    if (length < path.size()) return utf8(path.data(), int(length));
    path.resize(path.size() * 2);
  }
  return "";
}

// Whether the standard handle leads somewhere: a file, a pipe or a console the parent gave.
static bool redirected(DWORD which) {
  HANDLE handle = GetStdHandle(which);
  return handle && handle != INVALID_HANDLE_VALUE && GetFileType(handle) != FILE_TYPE_UNKNOWN;
}

static UINT parent_output_code_page = 0;

// The console's own code page goes back to what the parent's shell had.
static void restoreOutputCodePage() {
  std::fflush(stdout);
  std::fflush(stderr);
  SetConsoleOutputCP(parent_output_code_page);
}

void takeParentConsole() {
  if (GetConsoleWindow()) return;  // a program of the console subsystem, or one attached already
  bool output = redirected(STD_OUTPUT_HANDLE), error = redirected(STD_ERROR_HANDLE);
  // Attached even when both streams go elsewhere: the console's control events come through it.
  if (!AttachConsole(ATTACH_PARENT_PROCESS)) return;
  if (output && error) return;
  if (!output) std::freopen("CONOUT$", "w", stdout);
  if (!error) std::freopen("CONOUT$", "w", stderr);
  // The show writes UTF-8 (its manifest makes that Windows' code page for it): the console shows it as
  // such while the show writes there.
  parent_output_code_page = GetConsoleOutputCP();
  if (parent_output_code_page != CP_UTF8 && SetConsoleOutputCP(CP_UTF8)) std::atexit(restoreOutputCodePage);
}

static void (*console_event_note)(int) = nullptr;

static BOOL WINAPI consoleEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      console_event_note(SIGINT);
      return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      console_event_note(SIGTERM);
      // Windows ends the process as soon as this returns. The main thread finishes the show's files and
      // ends it instead, within the five seconds or so Windows waits before it ends it anyway.
      ::Sleep(INFINITE);
      return TRUE;
    default:
      return FALSE;
  }
}

void watchConsoleEvents(void (*note)(int signal_number)) {
  console_event_note = note;
  // A parent that started this process in a group of its own (to send it Ctrl-Break alone) left Ctrl-C
  // ignored in it; the console's Ctrl-C reaches it as it reaches its parent.
  SetConsoleCtrlHandler(nullptr, FALSE);
  SetConsoleCtrlHandler(consoleEvent, TRUE);
}
