#include "storage/local_posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "storage/file_time.h"
#include "storage/reserved_names.h"

namespace tandrel {

namespace {

class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  ~Descriptor() { reset(); }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void reset() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

// The failure of the system call that just failed.
Status fail() { return Status::fromErrno(errno); }

// Fills `record` for `name` in the directory `directory` (a descriptor or
// AT_FDCWD). A symbolic link is described by its target; a dangling one says so.
Status describe(int directory, const std::string& name, ListRecord& record) {
  struct stat linkStatus;
  if (fstatat(directory, name.c_str(), &linkStatus, AT_SYMLINK_NOFOLLOW) != 0) return fail();
  record = ListRecord{};
  record.name = name;
  record.isLink = S_ISLNK(linkStatus.st_mode);
  struct stat status = linkStatus;
  if (record.isLink && fstatat(directory, name.c_str(), &status, 0) != 0) {
    record.kind = RecordKind::danglingLink;
    record.writeTime = fileTimeFromUnix(linkStatus.st_mtim.tv_sec,
                                        static_cast<uint32_t>(linkStatus.st_mtim.tv_nsec));
    return Status::OK();
  }
  if (S_ISDIR(status.st_mode)) {
    record.kind = RecordKind::directory;
  } else if (S_ISREG(status.st_mode)) {
    record.kind = RecordKind::file;
    record.size = status.st_size;
  } else {
    record.kind = RecordKind::special;
  }
  record.writeTime =
      fileTimeFromUnix(status.st_mtim.tv_sec, static_cast<uint32_t>(status.st_mtim.tv_nsec));
  record.device = status.st_dev;
  record.inode = status.st_ino;
  return Status::OK();
}

bool writeAll(int fd, const char* data, size_t length) {
  while (length > 0) {
    ssize_t written = write(fd, data, length);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += written;
    length -= static_cast<size_t>(written);
  }
  return true;
}

class FileSource : public ByteSource {
 public:
  explicit FileSource(int fd) : fd_(fd) {}
  Status read(char* buffer, size_t capacity, size_t& got) override {
    for (;;) {
      ssize_t count = ::read(fd_.get(), buffer, capacity);
      if (count >= 0) {
        got = static_cast<size_t>(count);
        return Status::OK();
      }
      if (errno != EINTR) return fail();
    }
  }

 private:
  Descriptor fd_;
};

class FileSink : public ByteSink {
 public:
  explicit FileSink(int fd) : fd_(fd) {}
  Status write(const char* data, size_t length) override {
    if (writeAll(fd_.get(), data, length)) return Status::OK();
    return fail();
  }

 private:
  Descriptor fd_;
};

}  // namespace

PosixLocalSide::~PosixLocalSide() {
  for (int fd : parents_) close(fd);
}

Status PosixLocalSide::changeDirectory(const std::string& name) {
  if (name == ".." && !parents_.empty()) {
    if (fchdir(parents_.back()) != 0) return fail();
    close(parents_.back());
    parents_.pop_back();
    return Status::OK();
  }
  Descriptor here(open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (here.get() < 0) return fail();
  if (chdir(name.c_str()) != 0) return fail();
  parents_.push_back(here.release());
  return Status::OK();
}

Status PosixLocalSide::list(std::vector<ListRecord>& records) {
  DIR* directory = opendir(".");
  if (directory == nullptr) return fail();
  struct Closer {
    DIR* d;
    ~Closer() { closedir(d); }
  } closer{directory};
  int fd = dirfd(directory);
  for (;;) {
    errno = 0;
    struct dirent* item = readdir(directory);
    if (item == nullptr) {
      if (errno != 0) return fail();
      return Status::OK();
    }
    std::string name = item->d_name;
    if (name == "." || name == "..") continue;
    ListRecord record;
    if (Status described = describe(fd, name, record); !described.ok()) {
      // Removed between readdir and stat: it is simply not there any more.
      if (described.isNotFound()) continue;
      return described;
    }
    records.push_back(std::move(record));
  }
}

Status PosixLocalSide::lookUp(const std::string& name, ListRecord& record) {
  return describe(AT_FDCWD, name, record);
}

Status PosixLocalSide::deleteFile(const std::string& name) {
  return unlink(name.c_str()) == 0 ? Status::OK() : fail();
}

Status PosixLocalSide::createDirectory(const std::string& name) {
  return mkdir(name.c_str(), 0777) == 0 ? Status::OK() : fail();
}

Status PosixLocalSide::removeDirectory(const std::string& name) {
  return rmdir(name.c_str()) == 0 ? Status::OK() : fail();
}

Status PosixLocalSide::readFile(const std::string& name, std::string& bytes) {
  Descriptor fd(open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  if (fd.get() < 0) return fail();
  bytes.clear();
  char buffer[65536];
  for (;;) {
    ssize_t got = read(fd.get(), buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      return fail();
    }
    if (got == 0) return Status::OK();
    bytes.append(buffer, static_cast<size_t>(got));
  }
}

Status PosixLocalSide::replaceFile(const std::string& name, const std::string& bytes) {
  Descriptor fd(open(temporaryName().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (fd.get() < 0) return fail();
  bool written = writeAll(fd.get(), bytes.data(), bytes.size()) && fsync(fd.get()) == 0;
  int error = errno;
  if (close(fd.release()) != 0 && written) {
    written = false;
    error = errno;
  }
  if (written && rename(temporaryName().c_str(), name.c_str()) == 0) return Status::OK();
  if (written) error = errno;
  unlink(temporaryName().c_str());
  return Status::fromErrno(error);
}

Status PosixLocalSide::openForReading(const std::string& name, std::unique_ptr<ByteSource>& source,
                                      int64_t& size) {
  source.reset();
  // O_NONBLOCK so that a FIFO can never block the run; cleared once we know it
  // is a regular file.
  Descriptor fd(open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (fd.get() < 0) return fail();
  struct stat status;
  if (fstat(fd.get(), &status) != 0) return fail();
  if (!S_ISREG(status.st_mode)) return Status::system("Not a regular file");
  fcntl(fd.get(), F_SETFL, fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);
  // Read once from start to end: a larger read-ahead keeps a file that is not
  // in the page cache from making the upload wait on the disk.
  posix_fadvise(fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
  size = status.st_size;
  source = std::make_unique<FileSource>(fd.release());
  return Status::OK();
}

Status PosixLocalSide::createTemporary(std::unique_ptr<ByteSink>& sink) {
  sink.reset();
  int fd = open(temporaryName().c_str(),
                O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0666);
  if (fd < 0) return fail();
  sink = std::make_unique<FileSink>(fd);
  return Status::OK();
}

namespace {

// A symbolic link stands for the file it points to: the new content goes into
// that file and the link stays. This copy is not atomic, unlike the rename.
bool copyThroughLink(const std::string& temporary, const std::string& name) {
  Descriptor from(open(temporary.c_str(), O_RDONLY | O_CLOEXEC));
  if (from.get() < 0) return false;
  Descriptor to(open(name.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
  if (to.get() < 0) return false;
  char buffer[65536];
  for (;;) {
    ssize_t got = read(from.get(), buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) break;
    if (!writeAll(to.get(), buffer, static_cast<size_t>(got))) return false;
  }
  return close(to.release()) == 0;
}

}  // namespace

Status PosixLocalSide::commitTemporary(const std::string& name) {
  struct stat link;
  if (lstat(name.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
    bool copied = copyThroughLink(temporaryName(), name);
    int error = errno;
    unlink(temporaryName().c_str());
    if (copied) return Status::OK();
    return Status::fromErrno(error);
  }
  struct stat replaced;
  if (stat(name.c_str(), &replaced) == 0 && S_ISREG(replaced.st_mode)) {
    chmod(temporaryName().c_str(), replaced.st_mode & 07777);
  }
  if (rename(temporaryName().c_str(), name.c_str()) == 0) return Status::OK();
  int error = errno;
  unlink(temporaryName().c_str());
  return Status::fromErrno(error);
}

void PosixLocalSide::discardTemporary() {
  int saved = errno;
  unlink(temporaryName().c_str());
  errno = saved;
}

// Found by walking up through "..", so it holds however the way in was linked.
bool PosixLocalSide::directoryLiesWithin(const std::string& name, uint64_t device,
                                         uint64_t inode) {
  int current = open(name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  bool within = false;
  // Bounded: a file system deeper than this is not worth following further.
  for (int depth = 0; current >= 0 && depth < 4096; ++depth) {
    struct stat here;
    if (fstat(current, &here) != 0) break;
    if (static_cast<uint64_t>(here.st_dev) == device &&
        static_cast<uint64_t>(here.st_ino) == inode) {
      within = true;
      break;
    }
    int parent = openat(current, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    struct stat up;
    bool atRoot = parent < 0 || fstat(parent, &up) != 0 ||
                  (up.st_dev == here.st_dev && up.st_ino == here.st_ino);
    close(current);
    current = parent;
    if (atRoot) break;
  }
  if (current >= 0) close(current);
  return within;
}

}  // namespace tandrel
