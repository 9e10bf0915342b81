// The operations the tool performs on the local file system. Every name is
// relative to the process's working directory, except the start directory,
// which is passed as the user gave it. Each call returns its Status: ok on
// success; on failure what went wrong, having changed nothing else the caller
// can see.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "storage/byte_stream.h"
#include "storage/list_record.h"
#include "storage/side.h"

namespace tandrel {

class LocalSide : public Side {
 public:
  // Makes `name` the working directory. "..", after a change into a directory,
  // returns to exactly the directory that was left (even when the way in was a
  // symbolic link); any other name is entered as given.
  virtual Status changeDirectory(const std::string& name) = 0;

  // Every entry of the working directory ("." and ".." excluded, dot-files
  // included), in no particular order.
  virtual Status list(std::vector<ListRecord>& records) = 0;

  // The record of one entry of the working directory; notFound if it is absent.
  virtual Status lookUp(const std::string& name, ListRecord& record) = 0;

  // Removes a file or a symbolic link (never what a link points to).
  virtual Status deleteFile(const std::string& name) = 0;
  virtual Status createDirectory(const std::string& name) = 0;
  // Removes an empty directory.
  virtual Status removeDirectory(const std::string& name) = 0;

  // Reads a whole small file (a state database). notFound if it is absent.
  virtual Status readFile(const std::string& name, std::string& bytes) = 0;
  // Replaces `name` with `bytes` so that a reader sees either the old file or the
  // complete new one: writes the temporary name, flushes it to disk, renames.
  // On failure the temporary file is removed and `name` is as it was.
  virtual Status replaceFile(const std::string& name, const std::string& bytes) = 0;

  // Opens a regular file for an upload into `source`; `size` receives its size
  // in bytes. `source` stays empty on failure.
  virtual Status openForReading(const std::string& name, std::unique_ptr<ByteSource>& source,
                                int64_t& size) = 0;
  // Creates (or empties) the temporary file for a download, into `sink`.
  virtual Status createTemporary(std::unique_ptr<ByteSink>& sink) = 0;
  // Moves the completed temporary file over `name`, keeping the permission bits
  // of the file it replaces. On failure the temporary file is removed.
  virtual Status commitTemporary(const std::string& name) = 0;
  // Removes the temporary file, if any; best effort.
  virtual void discardTemporary() = 0;

  // Whether the directory `name` (symbolic links followed) is the directory
  // with `device` and `inode` or lies somewhere below it.
  virtual bool directoryLiesWithin(const std::string& name, uint64_t device, uint64_t inode) = 0;
};

}  // namespace tandrel
