#include "storage/run_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

namespace tandrel {

RunLock::~RunLock() {
  if (fd_ >= 0) close(fd_);
}

LockResult RunLock::take(const std::string& path) {
  if (fd_ >= 0) return LockResult::locked;
  int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return LockResult::unavailable;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int error = errno;
    close(fd);
    return error == EWOULDBLOCK ? LockResult::heldElsewhere : LockResult::unavailable;
  }
  fd_ = fd;
  return LockResult::locked;
}

}  // namespace tandrel
