// One run at a time per local start directory.
#pragma once

#include <string>

namespace tandrel {

enum class LockResult {
  locked,        // this lock holds the directory until it is destroyed
  heldElsewhere, // another process holds it
  unavailable,   // the directory cannot be opened; the run reports that itself
};

// An advisory lock on a directory itself; no file is created. The kernel
// drops it when the process ends, however it ends.
class RunLock {
 public:
  RunLock() = default;
  ~RunLock();
  RunLock(const RunLock&) = delete;
  RunLock& operator=(const RunLock&) = delete;

  // Takes the lock on the directory `path`; a lock already held stays held.
  LockResult take(const std::string& path);

 private:
  int fd_ = -1;
};

}  // namespace tandrel
