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

  bool changeDirectory(const std::string& name) override;
  bool list(std::vector<ListRecord>& records) override;
  bool lookUp(const std::string& name, ListRecord& record) override;
  bool deleteFile(const std::string& name) override;
  bool createDirectory(const std::string& name) override;
  bool removeDirectory(const std::string& name) override;
  bool readFile(const std::string& name, std::string& bytes) override;
  bool replaceFile(const std::string& name, const std::string& bytes) override;
  std::unique_ptr<ByteSource> openForReading(const std::string& name, int64_t& size) override;
  std::unique_ptr<ByteSink> createTemporary() override;
  bool commitTemporary(const std::string& name) override;
  void discardTemporary() override;
  bool directoryLiesWithin(const std::string& name, uint64_t device, uint64_t inode) override;

 private:
  // Descriptors of the directories left by each change of directory, innermost
  // last: ".." goes back to exactly the directory that was left.
  std::vector<int> parents_;
};

}  // namespace tandrel
