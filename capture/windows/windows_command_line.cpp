// Windows passes a child one command line, which the child's C runtime splits into its arguments: a
// word ends at a blank outside quotes; 2n backslashes before a quote are n backslashes and the quote
// opens or closes a quoted stretch; 2n + 1 of them are n and a quote that is text; backslashes anywhere
// else are themselves. The program's path, the first word, is split by another rule (up to the next
// quote), and a path on Windows holds no quote.
#include "capture/windows/windows_local.h"

static bool needsQuotes(const std::string& word) {
  return word.empty() || word.find_first_of(" \t\n\v\"") != std::string::npos;
}

static void appendQuoted(const std::string& word, std::string* line) {
  if (!needsQuotes(word)) {
    *line += word;
    return;
  }
  *line += '"';
  size_t backslashes = 0;
  for (char c : word) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    // Before a quote, every backslash is doubled and the quote escaped; elsewhere they stand as they are.
    *line += std::string(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
    *line += c;
    backslashes = 0;
  }
  // The closing quote follows: the backslashes before it are doubled too.
  *line += std::string(2 * backslashes, '\\');
  *line += '"';
}

std::string windowsCommandLine(const std::vector<std::string>& words) {
  std::string line;
  for (size_t i = 0; i < words.size(); ++i) {
    if (i == 0) {
      line += '"' + words[0] + '"';
      continue;
    }
    line += ' ';
    appendQuoted(words[i], &line);
  }
  return line;
}
