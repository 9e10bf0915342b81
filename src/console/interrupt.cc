#include "console/interrupt.h"

#include <signal.h>
#include <unistd.h>

#include "console/terminal.h"

namespace tandrel {

namespace {
volatile sig_atomic_t firstSignal = 0;

void onSignal(int signalNumber) {
  if (firstSignal != 0) {
    // The second Ctrl+C: the user wants out now.
    restoreTerminal();
    _exit(128 + signalNumber);
  }
  firstSignal = signalNumber;
}
}  // namespace

void installInterruptHandlers() {
  struct sigaction action = {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: a wait for a key must wake up and see the flag.
  action.sa_flags = 0;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

bool interruptRequested() { return firstSignal != 0; }

int interruptSignal() { return firstSignal; }

}  // namespace tandrel
