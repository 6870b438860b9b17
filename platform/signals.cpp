// SIGINT and SIGTERM, caught: the signal is remembered for the loop that asks (endSignal), so that live
// play, the music alone and a capture all end through their own clean-up rather than in the middle of
// it. A capture finishing its files may take a few seconds; SIGKILL still ends anything at once. Helper
// threads leave the signals to the main thread.
#include <signal.h>

#include "platform/platform_local.h"

static volatile sig_atomic_t end_signal = 0;
static volatile sig_atomic_t end_signal_count = 0;

static void rememberSignal(int signal_number) {
  if (end_signal == 0) end_signal = signal_number;
  end_signal_count = end_signal_count + 1;
}

void catchEndSignals() {
  struct sigaction action = {};
  action.sa_handler = rememberSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

int endSignal() { return end_signal; }

int endSignalCount() { return end_signal_count; }

const char* endSignalName(int signal_number) {
  return signal_number == SIGINT ? "SIGINT" : signal_number == SIGTERM ? "SIGTERM" : "a signal";
}

void leaveEndSignalsToMainThread() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}
