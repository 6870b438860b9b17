// SIGINT and SIGTERM on Linux: caught and noted (end_signals.cpp) for the loop that asks. Helper threads
// leave them to the main thread, whose waits they interrupt.
#include <signal.h>

#include "platform/platform_local.h"

static void noteSignal(int signal_number) { noteEndSignal(signal_number); }

void catchEndSignals() {
  struct sigaction action = {};
  action.sa_handler = noteSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

void leaveEndSignalsToMainThread() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}
