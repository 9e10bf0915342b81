// A side's memory of one directory as it was after the last run, kept in the
// local directory as "zztandrel.zzlocaldb" (local side) or
// "zztandrel.zzserverdb" (server side).
//
// Format, little-endian, no padding: the 15 bytes "TANDRELDATABASE"; records of
// u16 name length (at least 1), the name's bytes, u32 write time low half, u32
// high half, u32 isDirectory; a u16 0 terminator.
#pragma once

#include <optional>
#include <string>

#include "console/reporter.h"
#include "state/entry.h"
#include "storage/local_side.h"

namespace tandrel {

// The file name of this side's database.
const char* databaseFileName(bool isLocal);

// Reads this side's database from the working directory: the entries in file
// order, each Dropped and untouched, or nothing when the file cannot be read.
// A missing file or one with another magic is an empty database. `unread`
// receives why a file could not be read, and stays ok for one that ends early.
std::optional<EntryList> loadDatabase(LocalSide& local, bool isLocal, Status& unread);

// Writes every entry that is not Dropped, if any entry of the list is touched;
// otherwise leaves the file alone. The new file replaces the old one only once
// it is complete. Returns false after reporting the warning to `report` when
// the file could not be written.
bool saveDatabase(LocalSide& local, bool isLocal, const EntryList& list, Reporter& report);

// The file's bytes for a list, and a list from a file's bytes (for tests and
// tools). decode returns false for a truncated file, with `list` left empty.
std::string encodeDatabase(const EntryList& list);
bool decodeDatabase(const std::string& bytes, EntryList& list);

}  // namespace tandrel
