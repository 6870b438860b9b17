// The Windows capture backend's calls into Windows (see windows_local.h): child processes in a job
// object, the encoder's pipe, PATH, temporary files and the console.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <map>
#include <mutex>
#include <thread>

#include "capture/windows/windows_local.h"

static std::wstring wide(const std::string& text) {
  int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
  std::wstring converted(size_t(length > 0 ? length : 0), L'\0');
  if (length > 0) MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), &converted[0], length);
  return converted;
}

static std::string utf8(const std::wstring& text) {
  int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
  std::string converted(size_t(length > 0 ? length : 0), '\0');
  if (length > 0)
    WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), &converted[0], length, nullptr, nullptr);
  return converted;
}

// Windows' words for its last error, on one line.
static std::string lastErrorText() {
  DWORD code = GetLastError();
  wchar_t* text = nullptr;
  DWORD length =
      FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string words = length ? utf8(std::wstring(text, length)) : "error " + std::to_string(code);
  if (text) LocalFree(text);
  while (!words.empty() && (words.back() == '\n' || words.back() == '\r' || words.back() == '.' || words.back() == ' '))
    words.pop_back();
  return words;
}

// errno for the last error, where the callers say why with strerror.
static void setErrnoFromLastError() {
  switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      errno = ENOENT;
      break;
    case ERROR_ACCESS_DENIED:
      errno = EACCES;
      break;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      errno = ENOSPC;
      break;
    case ERROR_FILE_EXISTS:
      errno = EEXIST;
      break;
    default:
      errno = EIO;
  }
}

// ---- Child processes ----------------------------------------------------------------------------------

// The children still running, by process id, and the job they are in (any thread may start one: the
// encoder is started by the capture's writing thread).
struct Children {
  std::mutex lock;
  std::map<int, HANDLE> processes;
  HANDLE job = nullptr;
};
static Children children;

// The job ends every process in it when its last handle closes, which is this process's end. Its
// handle is not inherited, so no child keeps it open.
static HANDLE childJob() {
  if (children.job) return children.job;
  HANDLE job = CreateJobObjectW(nullptr, nullptr);
  if (!job) return nullptr;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
    CloseHandle(job);
    return nullptr;
  }
  children.job = job;
  return job;
}

// An open file for a child to write into, as an inheritable handle of its own (the file's position is
// shared, and only the child moves it); NUL for none.
static HANDLE childFile(intptr_t file) {
  if (file < 0) {
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    return CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  HANDLE copy = INVALID_HANDLE_VALUE;
  if (!DuplicateHandle(GetCurrentProcess(), reinterpret_cast<HANDLE>(file), GetCurrentProcess(), &copy, 0, TRUE,
                       DUPLICATE_SAME_ACCESS))
    return INVALID_HANDLE_VALUE;
  return copy;
}

// The environment block of a child: this process's, with `settings` ("NAME=value") in place of the
// variables of the same names (Windows' names know no case).
static std::wstring environmentBlock(const std::vector<std::string>& settings) {
  std::vector<std::wstring> variables;
  for (const std::string& setting : settings) variables.push_back(wide(setting));
  auto replaced = [&](const wchar_t* entry) {
    const wchar_t* equals = wcschr(entry + 1, L'=');  // "=C:=C:\\" entries start with their '='
    size_t length = equals ? size_t(equals - entry) : wcslen(entry);
    for (const std::wstring& variable : variables)
      if (variable.size() > length && variable[length] == L'=' && _wcsnicmp(variable.c_str(), entry, length) == 0)
        return true;
    return false;
  };
  std::wstring block;
  wchar_t* own = GetEnvironmentStringsW();
  for (const wchar_t* entry = own; entry && *entry; entry += wcslen(entry) + 1)
    if (!replaced(entry)) block.append(entry).push_back(L'\0');
  if (own) FreeEnvironmentStringsW(own);
  for (const std::wstring& variable : variables) block.append(variable).push_back(L'\0');
  block.push_back(L'\0');
  return block;
}

static HANDLE nothingToRead() {
  SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
  return CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

static void closeAll(std::initializer_list<HANDLE> handles) {
  for (HANDLE handle : handles)
    if (handle && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
}

// The handles a child inherits are named, so that none of this process's others leaks into it: an
// encoder pipe's other end held by a part would keep that encoder from ever seeing its input end.
struct InheritedHandles {
  std::vector<char> attributes;
  HANDLE list[3];
};

static bool limitInheritance(InheritedHandles* inherited, STARTUPINFOEXW* start) {
  SIZE_T size = 0;
  InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
  inherited->attributes.resize(size);
  start->lpAttributeList = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(inherited->attributes.data());
  if (!InitializeProcThreadAttributeList(start->lpAttributeList, 1, 0, &size)) return false;
  inherited->list[0] = start->StartupInfo.hStdInput;
  inherited->list[1] = start->StartupInfo.hStdOutput;
  inherited->list[2] = start->StartupInfo.hStdError;
  // The same handle twice (standard output and error into one log) is refused: name it once.
  size_t count = inherited->list[2] == inherited->list[1] ? 2 : 3;
  return UpdateProcThreadAttribute(start->lpAttributeList, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited->list,
                                   count * sizeof(HANDLE), nullptr, nullptr);
}

int startProcess(const std::string& program, const std::string& command_line, const ChildStreams& streams, int* input,
                 std::string* error) {
  HANDLE read_end = nullptr, write_end = nullptr;
  if (streams.input_pipe) {
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    // Only the child's end is inherited; ours is not, or the child would hold its own input open.
    if (!CreatePipe(&read_end, &write_end, &inheritable, 1 << 20) ||
        !SetHandleInformation(write_end, HANDLE_FLAG_INHERIT, 0)) {
      *error = "cannot make a pipe: " + lastErrorText();
      closeAll({read_end, write_end});
      return -1;
    }
  }
  HANDLE in = streams.input_pipe ? read_end : nothingToRead();
  HANDLE out = childFile(streams.output_file);
  HANDLE log = streams.log_file == streams.output_file ? out : childFile(streams.log_file);
  auto release = [&] { closeAll({in, out, log != out ? log : nullptr}); };
  if (in == INVALID_HANDLE_VALUE || out == INVALID_HANDLE_VALUE || log == INVALID_HANDLE_VALUE) {
    *error = "cannot start " + program + ": " + lastErrorText();
    release();
    closeAll({write_end});
    return -1;
  }
  STARTUPINFOEXW start = {};
  start.StartupInfo.cb = sizeof start;
  start.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  start.StartupInfo.hStdInput = in;
  start.StartupInfo.hStdOutput = out;
  start.StartupInfo.hStdError = log;
  InheritedHandles inherited;
  bool limited = limitInheritance(&inherited, &start);
  // A child in a console group of its own can be sent Ctrl-Break alone, and ignores the console's
  // Ctrl-C until it asks for it (the show's parts do). One kept off the console opens no window there.
  bool console = GetConsoleWindow() != nullptr;
  DWORD flags = CREATE_SUSPENDED | CREATE_UNICODE_ENVIRONMENT |
                (console && streams.takes_ctrl_c ? CREATE_NEW_PROCESS_GROUP : CREATE_NO_WINDOW) |
                (limited ? EXTENDED_STARTUPINFO_PRESENT : 0);
  std::wstring application = wide(program), line = wide(command_line);
  std::wstring environment = environmentBlock(streams.environment);
  PROCESS_INFORMATION process = {};
  std::lock_guard<std::mutex> hold(children.lock);
  BOOL started = CreateProcessW(application.c_str(), &line[0], nullptr, nullptr, TRUE, flags, &environment[0], nullptr,
                                &start.StartupInfo, &process);
  if (limited) DeleteProcThreadAttributeList(start.lpAttributeList);
  if (!started) {
    *error = "cannot start " + program + ": " + lastErrorText();
    release();
    closeAll({write_end});
    return -1;
  }
  release();
  // A job of this process's own cannot be had where this process's job forbids it (before Windows 8):
  // the child then belongs to that job alone.
  if (HANDLE job = childJob()) AssignProcessToJobObject(job, process.hProcess);
  ResumeThread(process.hThread);
  CloseHandle(process.hThread);
  int id = int(process.dwProcessId);
  children.processes[id] = process.hProcess;
  if (streams.input_pipe) *input = _open_osfhandle(reinterpret_cast<intptr_t>(write_end), _O_WRONLY | _O_BINARY);
  return id;
}

static HANDLE processHandle(int id) {
  std::lock_guard<std::mutex> hold(children.lock);
  auto found = children.processes.find(id);
  return found == children.processes.end() ? nullptr : found->second;
}

static int forgetProcess(int id) {
  std::lock_guard<std::mutex> hold(children.lock);
  auto found = children.processes.find(id);
  if (found == children.processes.end()) return -1;
  DWORD code = 0;
  bool known = GetExitCodeProcess(found->second, &code);
  CloseHandle(found->second);
  children.processes.erase(found);
  // An exception's status (0xC0000005, ...) is no exit code a caller knows: 255, a plain failure.
  return !known ? -1 : code > 255 ? 255 : int(code);
}

bool processEnded(int id, int* exit_code) {
  HANDLE process = processHandle(id);
  if (process && WaitForSingleObject(process, 0) == WAIT_TIMEOUT) return false;
  *exit_code = forgetProcess(id);
  return true;
}

int waitForProcess(int id) {
  if (HANDLE process = processHandle(id)) WaitForSingleObject(process, INFINITE);
  return forgetProcess(id);
}

void askProcessToEnd(int id) {
  if (GetConsoleWindow()) GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, DWORD(id));
}

void endProcessAtOnce(int id) {
  if (HANDLE process = processHandle(id)) TerminateProcess(process, 128 + 9);
}

bool writeToPipe(int input, const uint8_t* bytes, size_t count) {
  HANDLE pipe = reinterpret_cast<HANDLE>(_get_osfhandle(input));
  while (count > 0) {
    DWORD written = 0;
    DWORD chunk = DWORD(count < (1u << 30) ? count : (1u << 30));
    if (!WriteFile(pipe, bytes, chunk, &written, nullptr) || written == 0) return false;
    bytes += written;
    count -= written;
  }
  return true;
}

void closePipe(int input) { _close(input); }

// ---- The system ------------------------------------------------------------------------------------------

static std::wstring environmentVariable(const wchar_t* name) {
  DWORD length = GetEnvironmentVariableW(name, nullptr, 0);
  if (length == 0) return L"";
  std::wstring value(length, L'\0');
  length = GetEnvironmentVariableW(name, &value[0], length);
  value.resize(length);
  return value;
}

static bool isFile(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

static bool endsWithExecutable(const std::wstring& name) {
  if (name.size() < 4) return false;
  std::wstring tail = name.substr(name.size() - 4);
  return _wcsicmp(tail.c_str(), L".exe") == 0 || _wcsicmp(tail.c_str(), L".com") == 0;
}

std::string findExecutable(const std::string& program) {
  if (program.empty()) return "";
  std::wstring name = wide(program);
  std::vector<std::wstring> candidates;
  for (const wchar_t* extension : {L"", L".exe", L".com"}) {
    std::wstring candidate = name + extension;
    if (endsWithExecutable(candidate)) candidates.push_back(candidate);
  }
  if (program.find_first_of("/\\:") != std::string::npos) {
    for (const std::wstring& candidate : candidates)
      if (isFile(candidate)) return utf8(candidate);
    return "";
  }
  std::wstring folders = environmentVariable(L"PATH");
  size_t start = 0;
  while (start <= folders.size()) {
    size_t end = folders.find(L';', start);
    if (end == std::wstring::npos) end = folders.size();
    std::wstring folder = folders.substr(start, end - start);
    if (!folder.empty() && folder.front() == L'"' && folder.back() == L'"' && folder.size() >= 2)
      folder = folder.substr(1, folder.size() - 2);
    if (!folder.empty()) {
      if (folder.back() != L'\\' && folder.back() != L'/') folder += L'\\';
      for (const std::wstring& candidate : candidates)
        if (isFile(folder + candidate)) return utf8(folder + candidate);
    }
    start = end + 1;
  }
  return "";
}

int allowedProcessors() {
  DWORD_PTR process_mask = 0, system_mask = 0;
  if (GetProcessAffinityMask(GetCurrentProcess(), &process_mask, &system_mask) && process_mask) {
    int count = 0;
    for (; process_mask; process_mask &= process_mask - 1) ++count;
    return count;
  }
  unsigned count = std::thread::hardware_concurrency();
  return count > 0 ? int(count) : 1;
}

// Six letters and digits, different at every call.
static std::wstring uniqueSuffix() {
  static const wchar_t kLetters[] = L"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  static unsigned long long counter = 0;
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  unsigned long long bits = (unsigned long long)now.QuadPart * 6364136223846793005ULL +
                            GetCurrentProcessId() * 1442695040888963407ULL + ++counter * 0x9E3779B97F4A7C15ULL;
  std::wstring suffix;
  for (int i = 0; i < 6; ++i, bits /= 62) suffix += kLetters[bits % 62];
  return suffix;
}

// A new file `prefix` + six characters, deleted when its last handle closes (others may open it
// meanwhile, as long as they let it go); INVALID_HANDLE_VALUE when none can be made, with the last
// error set.
static HANDLE createUniqueFile(const std::wstring& prefix, DWORD access) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::wstring path = prefix + uniqueSuffix();
    HANDLE file = CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file != INVALID_HANDLE_VALUE) return file;
    if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) return file;
  }
  return INVALID_HANDLE_VALUE;
}

intptr_t createTemporaryFile(const char* stem) {
  wchar_t folder[MAX_PATH + 1];
  DWORD length = GetTempPathW(MAX_PATH + 1, folder);
  HANDLE file = INVALID_HANDLE_VALUE;
  if (length > 0 && length <= MAX_PATH)
    file = createUniqueFile(std::wstring(folder, length) + L"narvu-" + wide(stem) + L"-", GENERIC_READ | GENERIC_WRITE);
  if (file == INVALID_HANDLE_VALUE) {
    setErrnoFromLastError();
    return -1;
  }
  return reinterpret_cast<intptr_t>(file);
}

std::string readTemporaryFileAt(intptr_t file, size_t most, bool tail) {
  HANDLE reader = ReOpenFile(reinterpret_cast<HANDLE>(file), GENERIC_READ,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0);
  if (reader == INVALID_HANDLE_VALUE) return "";
  LARGE_INTEGER size = {};
  std::string text;
  if (GetFileSizeEx(reader, &size)) {
    size_t count = size_t(size.QuadPart) < most ? size_t(size.QuadPart) : most;
    LARGE_INTEGER start;
    start.QuadPart = tail ? size.QuadPart - LONGLONG(count) : 0;
    text.resize(count);
    size_t got = 0;
    if (SetFilePointerEx(reader, start, nullptr, FILE_BEGIN))
      while (got < count) {
        DWORD read = 0;
        DWORD chunk = DWORD(count - got < (1u << 30) ? count - got : (1u << 30));
        if (!ReadFile(reader, &text[got], chunk, &read, nullptr) || read == 0) break;
        got += read;
      }
    text.resize(got);
  }
  CloseHandle(reader);
  return text;
}

void closeTemporaryFileHandle(intptr_t file) { CloseHandle(reinterpret_cast<HANDLE>(file)); }

bool folderTakesFiles(const std::string& folder) {
  std::wstring prefix = wide(folder);
  if (!prefix.empty() && prefix.back() != L'\\' && prefix.back() != L'/') prefix += L'\\';
  HANDLE made = createUniqueFile(prefix + L"narvu-writable-", GENERIC_WRITE);
  if (made == INVALID_HANDLE_VALUE) return false;
  CloseHandle(made);
  return true;
}

bool standardErrorIsConsole() {
  DWORD mode = 0;
  return GetConsoleMode(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stderr))), &mode) != 0;
}
