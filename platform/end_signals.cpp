// SIGINT and SIGTERM, remembered: the system backend catches them (or its system's own way of asking a
// program to end) and notes them here, and the loop that asks (endSignal) ends through its own clean-up
// rather than in the middle of it: live play, the music alone and a capture alike. A capture finishing
// its files may take a few seconds; SIGKILL still ends anything at once.
#include <csignal>

#include "platform/platform_local.h"

static volatile std::sig_atomic_t end_signal = 0;
static volatile std::sig_atomic_t end_signal_count = 0;

void noteEndSignal(int signal_number) {
  if (end_signal == 0) end_signal = signal_number;
  end_signal_count = end_signal_count + 1;
}

int endSignal() { return end_signal; }

int endSignalCount() { return end_signal_count; }

const char* endSignalName(int signal_number) {
  return signal_number == SIGINT ? "SIGINT" : signal_number == SIGTERM ? "SIGTERM" : "a signal";
}
