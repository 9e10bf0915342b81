// The operations both sides offer alike, on names in the side's current
// directory. Each call returns its Status (status.h): ok on success, else what
// went wrong and its text. A walk that works the same on either side
// takes a Side; what only one side can do is on LocalSide or ServerSide.
#pragma once

#include <string>
#include <vector>

#include "storage/list_record.h"
#include "storage/status.h"

namespace tandrel {

class Side {
 public:
  virtual ~Side() = default;

  // Makes `name` the current directory; ".." returns to the directory left.
  virtual Status changeDirectory(const std::string& name) = 0;
  // Every entry of the current directory ("." and ".." excluded).
  virtual Status list(std::vector<ListRecord>& records) = 0;
  // The record of one entry; notFound if it is absent.
  virtual Status lookUp(const std::string& name, ListRecord& record) = 0;
  // Removes a file or a link (never what a link points to).
  virtual Status deleteFile(const std::string& name) = 0;
  virtual Status createDirectory(const std::string& name) = 0;
  // Removes an empty directory.
  virtual Status removeDirectory(const std::string& name) = 0;
};

}  // namespace tandrel
