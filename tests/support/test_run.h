// A run on the real sides for tests: the local side in the process's working
// directory and a server side that connects only when a test tells it to.
// Tests that inject faults build their own Run around wrappers of these sides.
#pragma once

#include "state/run_state.h"
#include "storage/local_posix.h"
#include "storage/server_curl.h"

namespace tandrel::testing {

struct RealSides {
  PosixLocalSide local;
  CurlServerSide server;
};

// The sides first, so that they outlive the run that refers to them.
struct TestRun : RealSides {
  Run run{local, server};
};

}  // namespace tandrel::testing
