// The local side on POSIX.
#pragma once

#include <vector>

#include "storage/local_side.h"

namespace tandrel {

class PosixLocalSide : public LocalSide {
 public:
  PosixLocalSide() = default;
  ~PosixLocalSide() override;
  PosixLocalSide(const PosixLocalSide&) = delete;
  PosixLocalSide& operator=(const PosixLocalSide&) = delete;

  Status changeDirectory(const std::string& name) override;
  Status list(std::vector<ListRecord>& records) override;
  Status lookUp(const std::string& name, ListRecord& record) override;
  Status deleteFile(const std::string& name) override;
  Status createDirectory(const std::string& name) override;
  Status removeDirectory(const std::string& name) override;
  Status readFile(const std::string& name, std::string& bytes) override;
  Status replaceFile(const std::string& name, const std::string& bytes) override;
  Status openForReading(const std::string& name, std::unique_ptr<ByteSource>& source,
                        int64_t& size) override;
  Status createTemporary(std::unique_ptr<ByteSink>& sink) override;
  Status commitTemporary(const std::string& name) override;
  void discardTemporary() override;
  bool directoryLiesWithin(const std::string& name, uint64_t device, uint64_t inode) override;

 private:
  // Descriptors of the directories left by each change of directory, innermost
  // last: ".." goes back to exactly the directory that was left.
  std::vector<int> parents_;
};

}  // namespace tandrel
