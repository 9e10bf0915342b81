// A side's memory of one directory as it was after the last run, kept in the
// local directory as "zztandrel.zzlocaldb" (local side) or
// "zztandrel.zzserverdb" (server side).
//
// Format, little-endian, no padding: the 15 bytes "TANDRELDATABASE"; records of
// u16 name length (at least 1), the name's bytes, u32 write time low half, u32
// high half, u32 isDirectory; a u16 0 terminator.
#pragma once

#include <string>

#include "state/entry.h"
#include "storage/local_side.h"

namespace tandrel {

class StateDatabase {
 public:
  // Reads this side's database from the working directory. On success `list`
  // receives the entries in file order (nullptr when there are none): a missing
  // file or one with another magic is an empty database. A file that ends early
  // fails, and leaves the error text as it was.
  bool load(LocalSide& local, bool isLocal, Entry*& list);

  // Writes every entry that is not Dropped, if any entry of the list is touched;
  // otherwise leaves the file alone. The new file replaces the old one only once
  // it is complete. Prints the warning itself on failure.
  void save(LocalSide& local, const Entry* list, bool isLocal);

  static const char* fileName(bool isLocal);
};

// The file's bytes for a list, and a list from a file's bytes (for tests and
// tools). decode returns false for a truncated file, with `list` left empty.
std::string encodeDatabase(const Entry* list);
bool decodeDatabase(const std::string& bytes, Entry*& list);

}  // namespace tandrel
