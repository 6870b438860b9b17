// Runs a program on a console of its own in the Windows test under Wine, as a Command Prompt would:
// started by wineconsole, it starts the program on its console, the program's standard output and error
// in a file, waits for it and writes its exit code into a file. It lets the console's Ctrl-C pass, so
// the test can type one into the console's window and see what the program makes of it (which starts
// with Ctrl-C ignored, as every child of this one).
//
//   console_run.exe RESULT OUTPUT PROGRAM [ARGUMENTS...]
//
// PROGRAM and ARGUMENTS are passed on as one command line, each word in quotes (none may hold a quote).
#include <windows.h>

#include <cstdio>
#include <string>

static void writeResult(const wchar_t* path, const std::wstring& text) {
  if (FILE* file = _wfopen(path, L"w")) {
    std::fputws(text.c_str(), file);
    std::fclose(file);
  }
}

int wmain(int argc, wchar_t** argv) {
  if (argc < 4) return 2;
  const wchar_t* result = argv[1];
  std::wstring line;
  for (int i = 3; i < argc; ++i) line += (i > 3 ? L" \"" : L"\"") + std::wstring(argv[i]) + L"\"";
  SetConsoleCtrlHandler(nullptr, TRUE);
  SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
  HANDLE output = CreateFileW(argv[2], GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  STARTUPINFOW start = {};
  start.cb = sizeof start;
  start.dwFlags = STARTF_USESTDHANDLES;
  start.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  start.hStdOutput = output;
  start.hStdError = output;
  PROCESS_INFORMATION process = {};
  if (output == INVALID_HANDLE_VALUE ||
      !CreateProcessW(argv[3], &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &start, &process)) {
    writeResult(result, L"cannot start " + std::wstring(argv[3]));
    return 1;
  }
  CloseHandle(output);
  DWORD code = 0;
  if (WaitForSingleObject(process.hProcess, 120000) != WAIT_OBJECT_0 || !GetExitCodeProcess(process.hProcess, &code)) {
    writeResult(result, L"still running");
    TerminateProcess(process.hProcess, 1);
    return 1;
  }
  writeResult(result, L"exit " + std::to_wstring(code));
  return 0;
}
