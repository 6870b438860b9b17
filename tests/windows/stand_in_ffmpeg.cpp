// A stand-in for ffmpeg.exe in the Windows test under Wine, where no Windows build of ffmpeg is at hand:
// it takes the show's ffmpeg command lines and writes into the last argument (a "file:" path) the bytes
// of every input (-i), one after the other: the raw frames of its standard input ("pipe:0") for the
// encoder, the video stream and the music for the mux. So the frames and the music that reach it
// through CreateProcess, the pipe and the command line's quoting can be compared with the native
// capture's, byte for byte. Its arguments and file names are wide strings, as ffmpeg's are on Windows.
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

static std::wstring withoutFilePrefix(const std::wstring& argument) {
  return argument.compare(0, 5, L"file:") == 0 ? argument.substr(5) : argument;
}

static bool copyAll(FILE* from, FILE* to) {
  std::vector<char> buffer(1 << 16);
  size_t got;
  while ((got = std::fread(buffer.data(), 1, buffer.size(), from)) > 0)
    if (std::fwrite(buffer.data(), 1, got, to) != got) return false;
  return !std::ferror(from);
}

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  std::vector<std::wstring> inputs;
  for (int i = 1; i + 1 < argc; ++i)
    if (std::wcscmp(argv[i], L"-i") == 0) inputs.push_back(argv[++i]);
  std::wstring output = withoutFilePrefix(argv[argc - 1]);
  FILE* out = _wfopen(output.c_str(), L"wb");
  if (!out) {
    std::fwprintf(stderr, L"stand-in ffmpeg: cannot write %ls\n", output.c_str());
    return 1;
  }
  _setmode(_fileno(stdin), _O_BINARY);
  bool ok = true;
  for (const std::wstring& input : inputs) {
    FILE* in = input == L"pipe:0" ? stdin : _wfopen(withoutFilePrefix(input).c_str(), L"rb");
    if (!in) {
      std::fwprintf(stderr, L"stand-in ffmpeg: cannot read %ls\n", input.c_str());
      ok = false;
      break;
    }
    ok = copyAll(in, out) && ok;
    if (in != stdin) std::fclose(in);
  }
  ok = std::fclose(out) == 0 && ok;
  return ok ? 0 : 1;
}
