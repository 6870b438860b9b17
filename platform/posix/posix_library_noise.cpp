// Quieting the libraries behind SDL while it looks for a device. Without a sound card ALSA prints eight
// lines of its configuration errors, and without a display server Wayland's client library prints
// one about XDG_RUNTIME_DIR, all before SDL reports the one failure that matters; the show then says
// what went wrong in its own words. NARVU_LIBRARY_MESSAGES=1 lets the libraries speak.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "platform/platform_local.h"

int quietStandardError() {
  const char* wanted = std::getenv("NARVU_LIBRARY_MESSAGES");
  if (wanted && *wanted && *wanted != '0') return -1;
  std::fflush(stderr);
  int saved = dup(2);
  int nowhere = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (saved < 0 || nowhere < 0 || dup2(nowhere, 2) < 0) {
    if (saved >= 0) close(saved);
    if (nowhere >= 0) close(nowhere);
    return -1;
  }
  close(nowhere);
  return saved;
}

void restoreStandardError(int saved) {
  if (saved < 0) return;
  std::fflush(stderr);
  dup2(saved, 2);
  close(saved);
}
