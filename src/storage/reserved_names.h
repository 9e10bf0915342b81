// Names that belong to the tool itself in every synchronised directory. No
// listing reports them as entries, on either side.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "storage/list_record.h"

namespace tandrel {

inline constexpr std::string_view kLocalDatabaseName = "zztandrel.zzlocaldb";
inline constexpr std::string_view kServerDatabaseName = "zztandrel.zzserverdb";
// Binds a directory's two databases to the place they were written for (see
// state/record_place.h).
inline constexpr std::string_view kPlaceName = "zztandrel.zzplace";
// Names what a replacement on the server is about to do, while it is under way.
inline constexpr std::string_view kJournalName = "zztandrel.zzjournal";
// Every temporary name begins so, dot included. A transfer, or a database
// save, writes to a temporary name first and renames it over its target only
// when complete. Runs of older versions used the bare prefix as a whole name.
inline constexpr std::string_view kTemporaryPrefix = "zztandrel.zztemp.";
inline constexpr std::string_view kBareTemporaryName = "zztandrel.zztemp";

// This run's own temporary name: the prefix, then the host name, the machine id,
// the process id, the start time and a random number, so that two runs on one
// directory (two machines, even of one host name, or two processes) never
// write each other's temporary file.
const std::string& temporaryName();

// The name a replaced file's old copy is moved aside to, at Unix time `now`:
// this run's temporary name, the time and ".old", so that its age can be read
// from its name.
std::string asideName(int64_t now);

// True for the tool's own files and every temporary name.
inline bool isReservedName(std::string_view name) {
  return name == kLocalDatabaseName || name == kServerDatabaseName || name == kPlaceName ||
         name == kJournalName || name == kBareTemporaryName || name.starts_with(kTemporaryPrefix);
}

// A temporary file of another run that no run can still be writing: left by a
// run of this machine whose process is gone (a killed run), or more than a day
// old by the time in its name (the write time only for a name without one). A
// copy moved aside while a file was replaced (".old") waits the day in any
// case, counted from when it was moved aside, so that a user can still take it
// back. `now` is the current time in the same representation.
bool isAbandonedTemporary(const ListRecord& record, FileTime now);

// A name that must never reach the wire or a path: empty, or holding CR, LF, NUL or '/'.
bool isUnsafeName(std::string_view name);

}  // namespace tandrel
