#include "storage/run_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "storage/failure.h"

namespace tandrel {

bool lockWorkingDirectory() {
  // Deliberately never closed: the lock lives as long as the process.
  static int held = -1;
  if (held >= 0) return true;
  int fd = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    recordSystemFailure(errno);
    return false;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    recordSystemFailure(errno);
    close(fd);
    return false;
  }
  held = fd;
  return true;
}

}  // namespace tandrel
