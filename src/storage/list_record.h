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
  unreadable,     // server: a listing line in no form we can read; name holds the line
  leadsOut,       // server: a name that would lead out of the directory ("a/b", "/x")
};

// What a listing showed of a write time; the rest of `writeTime` is filled in.
enum class TimeShown {
  all,       // the whole time, at the side's precision
  noYear,    // month, day, hour and minute; the year is inferred
  dateOnly,  // year, month and day; the time of day reads as 00:00
  none,      // nothing: writeTime is 0
};

struct ListRecord {
  std::string name;  // bytes as the side gives them, no path
  RecordKind kind = RecordKind::file;
  FileTime writeTime = 0;
  TimeShown timeShown = TimeShown::all;
  // Bytes; -1 when the side does not report the size of the file itself (a
  // server's listing gives a link's own size, the length of its text).
  int64_t size = -1;
  // The name is a symbolic link. Local: kind, time and size describe its
  // target. Server: the listing does not say what it points to; a link that
  // can be entered is a directory. Tree removal deletes the link itself and
  // never follows it.
  bool isLink = false;
  // Server: what a link's listing line says it points to, when it says so.
  std::string linkTarget;
  // Server: the MLSD "unique" fact, which names the directory itself
  // whichever path leads to it; empty when not given.
  std::string unique;
  // Server: a directory that leads back to one being walked (a link up the
  // tree): entering it would walk the same directories again and again.
  bool loop = false;
  // Local only: for a link to a directory, the target's device and inode, so
  // that a walk can recognise a directory it is already inside.
  uint64_t device = 0;
  uint64_t inode = 0;

  bool isDirectory() const { return kind == RecordKind::directory; }
};

}  // namespace tandrel
