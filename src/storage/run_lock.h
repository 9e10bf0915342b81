// One run at a time per local start directory.
#pragma once

#include <string>

namespace tandrel {

enum class LockResult {
  locked,       // this process holds the lock until it ends, however it ends
  heldElsewhere,// another process holds it
  unavailable,  // the directory cannot be opened; the run reports that itself
};

// Takes an advisory lock on the directory `path` itself; no file is created.
LockResult lockDirectory(const std::string& path);

}  // namespace tandrel
