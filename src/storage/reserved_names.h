// Names that belong to the tool itself in every synchronised directory. No
// listing reports them as entries, on either side.
#pragma once

#include <string>
#include <string_view>

#include "storage/list_record.h"

namespace tandrel {

inline constexpr std::string_view kLocalDatabaseName = "zztandrel.zzlocaldb";
inline constexpr std::string_view kServerDatabaseName = "zztandrel.zzserverdb";
// Every temporary name begins so. A transfer, or a database save, writes to a
// temporary name first and renames it over its target only when complete.
inline constexpr std::string_view kTemporaryPrefix = "zztandrel.zztemp";

// This run's own temporary name: the prefix, then the host name, the process id,
// the start time and a random number, so that two runs on one directory (two
// machines, or two processes) never write each other's temporary file.
const std::string& temporaryName();

// True for the two database names and every name with the temporary prefix.
inline bool isReservedName(std::string_view name) {
  return name == kLocalDatabaseName || name == kServerDatabaseName ||
         name.starts_with(kTemporaryPrefix);
}

// A temporary file of another run that no run can still be writing: left by a
// run of this host whose process is gone (a killed run), or a day old. A copy
// moved aside while a file was replaced (".old") waits the day in any case, so
// that a user can still take it back. `now` is the current time in the same
// representation.
bool isAbandonedTemporary(const ListRecord& record, FileTime now);

// A name that must never reach the wire or a path: empty, or holding CR, LF, NUL or '/'.
bool isUnsafeName(std::string_view name);

}  // namespace tandrel
