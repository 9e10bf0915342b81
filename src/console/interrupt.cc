#include "console/interrupt.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include "console/terminal.h"

namespace tandrel {

namespace {
volatile sig_atomic_t firstSignal = 0;
int wakePipe[2] = {-1, -1};

void onSignal(int signalNumber) {
  if (firstSignal != 0) {
    // The second Ctrl+C: the user wants out now.
    restoreTerminal();
    _exit(128 + signalNumber);
  }
  firstSignal = signalNumber;
  if (wakePipe[1] >= 0) {
    char byte = 1;
    ssize_t ignored = write(wakePipe[1], &byte, 1);
    (void)ignored;
  }
}
}  // namespace

void installInterruptHandlers() {
  if (wakePipe[0] < 0 && pipe2(wakePipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    wakePipe[0] = wakePipe[1] = -1;
  }
  struct sigaction action = {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: a wait for a key must wake up and see the flag.
  action.sa_flags = 0;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
  // A write past the file size limit then fails with EFBIG, and is reported
  // like any failed write, instead of ending the run.
  signal(SIGXFSZ, SIG_IGN);
}

bool interruptRequested() { return firstSignal != 0; }

int interruptSignal() { return firstSignal; }

int interruptWakeDescriptor() { return wakePipe[0]; }

}  // namespace tandrel
