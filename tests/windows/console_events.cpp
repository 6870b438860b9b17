// Drives the show through its console in the Windows test under Wine: started in a console of its own
// (wineconsole), it starts a program on that console, its standard output and error in a file, and
// once a file appears it sends the console's Ctrl-C, or closes the console, as a viewer would; then
// it writes the program's exit code into a file.
//
//   console_events.exe ctrl-c|close RESULT OUTPUT WHEN PROGRAM [ARGUMENTS...]
//
// PROGRAM and ARGUMENTS are passed on as one command line, each word in quotes (none may hold a quote).
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

static void writeResult(const wchar_t* path, const std::wstring& text) {
  if (FILE* file = _wfopen(path, L"w")) {
    std::fputws(text.c_str(), file);
    std::fclose(file);
  }
}

static bool exists(const wchar_t* path) { return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES; }

int wmain(int argc, wchar_t** argv) {
  if (argc < 6) return 2;
  std::wstring event = argv[1];
  const wchar_t* result = argv[2];
  std::wstring line;
  for (int i = 5; i < argc; ++i) line += (i > 5 ? L" \"" : L"\"") + std::wstring(argv[i]) + L"\"";
  // Ctrl-C reaches every process on the console: this one lets it pass.
  SetConsoleCtrlHandler(nullptr, TRUE);
  SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
  HANDLE output = CreateFileW(argv[3], GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  STARTUPINFOW start = {};
  start.cb = sizeof start;
  start.dwFlags = STARTF_USESTDHANDLES;
  start.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  start.hStdOutput = output;
  start.hStdError = output;
  PROCESS_INFORMATION process = {};
  if (output == INVALID_HANDLE_VALUE ||
      !CreateProcessW(argv[5], &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &start, &process)) {
    writeResult(result, L"cannot start " + std::wstring(argv[5]));
    return 1;
  }
  CloseHandle(output);
  for (int waited = 0; !exists(argv[4]) && waited < 60000; waited += 20) {
    if (WaitForSingleObject(process.hProcess, 20) == WAIT_OBJECT_0) break;
  }
  if (event == L"ctrl-c") {
    GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
  } else {
    // The console goes with its window; this process leaves it first, so as to see the program end.
    HWND console = GetConsoleWindow();
    FreeConsole();
    PostMessageW(console, WM_CLOSE, 0, 0);
  }
  DWORD code = 0;
  if (WaitForSingleObject(process.hProcess, 60000) != WAIT_OBJECT_0 || !GetExitCodeProcess(process.hProcess, &code)) {
    writeResult(result, L"still running");
    TerminateProcess(process.hProcess, 1);
    return 1;
  }
  writeResult(result, L"exit " + std::to_wstring(code));
  return 0;
}
