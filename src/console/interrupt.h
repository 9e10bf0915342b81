// Ctrl+C and SIGTERM. The first signal only sets a flag: the run stops after the
// current action, saves what it did, says so and exits with 128 + the signal. A
// second signal ends the process at once (restoring the terminal first).
#pragma once

namespace tandrel {

// Also ignores SIGPIPE and SIGXFSZ, so that a closed connection or a write past
// the file size limit fails like any other call instead of ending the process.
void installInterruptHandlers();
// True once SIGINT or SIGTERM has arrived. Safe to poll from any code, e.g. a
// transfer's progress callback, which aborts the transfer when it turns true.
bool interruptRequested();
// The signal that arrived first, or 0.
int interruptSignal();
// A descriptor that turns readable once a signal has arrived (-1 before the
// handlers are installed), so that a wait for input can wait for it too and no
// signal is missed between checking the flag and starting to wait.
int interruptWakeDescriptor();

}  // namespace tandrel
