// Directory trees for the tests: write files with chosen contents and write
// times, read them back, and compare whole trees as text snapshots, so that a
// failing assertion shows every file of both sides.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>

namespace tandrel::testing {

struct SnapshotOptions {
  // Leave out the tool's own state files ("zztandrel.*") at every level.
  bool skipToolFiles = false;
};

// A snapshot: one line per entry, sorted bytewise by relative path; a directory
// is "path/", a file "path:content", a symbolic link "path -> target".
std::string snapshotTree(const std::string& root, SnapshotOptions options = {});
// Empty when both trees have the same snapshot, otherwise both snapshots and
// the lines found on one side only.
std::string compareTrees(const std::string& left, const std::string& right,
                         SnapshotOptions options = {});

// A view of an existing directory; relative paths are resolved against it.
// Files and directories written through it get the owner it was given (so a
// test can prepare files that a server running as another user may change).
class Tree {
 public:
  explicit Tree(std::string root, uid_t owner = static_cast<uid_t>(-1),
                gid_t group = static_cast<gid_t>(-1));
  virtual ~Tree() = default;

  const std::string& path() const { return root_; }
  std::string pathOf(const std::string& relative) const;

  // Writes a file, creating missing parent directories. mtimeSeconds, when
  // given, becomes its modification time (seconds since 1970, UTC).
  void write(const std::string& relative, const std::string& content,
             std::optional<std::int64_t> mtimeSeconds = std::nullopt) const;
  void setMtime(const std::string& relative, std::int64_t seconds) const;
  // Modification time in seconds, or -1 when the entry does not exist.
  std::int64_t mtime(const std::string& relative) const;
  // The file's content; empty when it cannot be read (see exists()).
  std::string read(const std::string& relative) const;
  bool exists(const std::string& relative) const;
  bool isDirectory(const std::string& relative) const;
  // Creates the directory and its missing parents.
  void mkdir(const std::string& relative) const;
  // Removes a file or a whole directory tree.
  void remove(const std::string& relative) const;
  std::string snapshot(SnapshotOptions options = {}) const { return snapshotTree(root_, options); }

 protected:
  void chownNew(const std::string& absolute) const;
  std::string root_;
  uid_t owner_;
  gid_t group_;
};

// A fresh directory under /tmp, removed with everything in it on destruction.
class TempTree : public Tree {
 public:
  TempTree();
  ~TempTree() override;
  TempTree(const TempTree&) = delete;
  TempTree& operator=(const TempTree&) = delete;
};

}  // namespace tandrel::testing
