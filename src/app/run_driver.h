// The whole run: banner, command line, connection, start directories, the
// synchronisation of the start directory, and the clean-up.
#pragma once

namespace tandrel {

// Runs the tool with the arguments main() received. Returns the exit status:
// 255 for a missing option value, a command line without -h, -u and -p, or a
// session that cannot be opened; 0 when the run finished without reporting an
// error or a warning; 1 otherwise; 128 + the signal after an interruption.
int runTandrel(int count, char** arguments);

}  // namespace tandrel
