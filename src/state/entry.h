// The record of one file or directory on one side of one directory, as listed
// now, as remembered by a state database, or as a placeholder for something the
// database remembers but that is gone.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "storage/list_record.h"

namespace tandrel {

enum class EntryState : int32_t {
  Dropped = 0,    // left out when the database is saved
  Unchanged = 1,  // present and recorded; a file not newer than its record
  New = 2,        // present, not recorded
  Deleted = 3,    // recorded, not present (a placeholder)
  Changed = 4,    // a file newer than its record
};

struct Entry {
  std::string name;
  FileTime writeTime = 0;
  bool isDirectory = false;
  EntryState state = EntryState::Dropped;
  // The last outcome recorded on the entry was a success, or an action made it.
  bool touched = false;
  // Not stored in databases: the size the side reported, -1 when unknown.
  int64_t size = -1;
  // Not stored: what the listing showed of writeTime.
  TimeShown timeShown = TimeShown::all;
  // Not stored: the side lists the name as a symbolic link.
  bool isLink = false;
  // Not stored: the side has this name but the run cannot handle it (a special
  // file, a dangling link, an unreadable listing line...). The entry carries
  // the database's record unchanged (state Unchanged), or is never saved (state
  // Dropped) when there was none; the walk leaves its pair alone.
  bool skipped = false;
  // Not stored in databases: the write time the side's listing showed, which
  // writeTime no longer holds once a merge put the older recorded time there.
  FileTime listedTime = 0;

  Entry() = default;
  // From a listing record.
  explicit Entry(const ListRecord& record);
  // Not copyable: the walk holds entries by address, and a stray copy would
  // record an outcome nobody saves. copyOf makes the one kind of copy needed.
  Entry(const Entry&) = delete;
  Entry& operator=(const Entry&) = delete;

  // A copy for a placeholder or an entry made by an action: name and kind only,
  // write time 0.
  static std::unique_ptr<Entry> copyOf(const Entry& other);

  // Takes the write time (and size) of a fresh record of the same entry.
  void setTimeFrom(const ListRecord& record);
};

// Entries in one order, each at a fixed address for as long as it is held:
// a listing's entries, or a database's records in file order.
using EntryList = std::vector<std::unique_ptr<Entry>>;

// -1, 0 or +1: files before directories, then names bytewise as unsigned bytes;
// an absent entry sorts after every present one (and after another absent one).
int compareEntries(const Entry* a, const Entry* b);

// Records the outcome of an action on `entry` (nothing when it is absent or
// skipped: a skipped entry keeps what it was given).
void commitEntry(Entry* entry, bool ok);

}  // namespace tandrel
