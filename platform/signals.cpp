// SIGINT and SIGTERM, caught: the first one is remembered for the loop that asks (endSignal), so that
// live play, the music alone and a capture all end through their own clean-up. A second signal of the
// same kind, while the first is still unanswered, ends the process as the signal would have.
#include <signal.h>

#include "platform/win32.h"

static volatile sig_atomic_t end_signal = 0;

static void rememberSignal(int signal_number) {
  if (end_signal == signal_number) {
    // Asked twice: whoever should have answered does not; give the signal its ordinary effect.
    ::signal(signal_number, SIG_DFL);
    ::raise(signal_number);
    return;
  }
  end_signal = signal_number;
}

void catchEndSignals() {
  struct sigaction action = {};
  action.sa_handler = rememberSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

int endSignal() { return end_signal; }
