// The command line.
#pragma once

#include "state/run_state.h"

namespace tandrel {

// The exit status for a missing option value or a command line without any of
// -h, -u and -p: -1, which the shell sees as 255.
inline constexpr int kUsageExitStatus = 255;

// Fills `options` (the settings and the standing answers) from the arguments (the program
// name excluded). Returns 0 when the run can go on; otherwise the exit status,
// after printing the reason (a missing value, the usage text, a value too long).
int parseOptions(int count, char** arguments, RunOptions& options);

void printUsage();

}  // namespace tandrel
