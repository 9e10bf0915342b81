// One entry as a side's listing or one-entry look-up reports it.
#pragma once

#include <cstdint>
#include <string>

namespace tandrel {

// Write times are FILETIME values: 100-nanosecond ticks since 1601-01-01 UTC.
using FileTime = uint64_t;

enum class RecordKind {
  file,
  directory,
  special,        // local FIFO, socket or device node: never opened
  danglingLink,   // local symbolic link whose target does not exist
};

struct ListRecord {
  std::string name;  // bytes as the side gives them, no path
  RecordKind kind = RecordKind::file;
  FileTime writeTime = 0;
  int64_t size = -1;  // bytes; -1 when the side does not report a size
  // Local only: the name is a symbolic link; kind, time and size describe its
  // target. Tree removal deletes the link itself and never follows it.
  bool isLink = false;
  // Local only: for a link to a directory, the target's device and inode, so
  // that a walk can recognise a directory it is already inside.
  uint64_t device = 0;
  uint64_t inode = 0;

  bool isDirectory() const { return kind == RecordKind::directory; }
};

}  // namespace tandrel
