// Names that belong to the tool itself in every synchronised directory. No
// listing reports them as entries, on either side.
#pragma once

#include <string_view>

namespace tandrel {

inline constexpr std::string_view kLocalDatabaseName = "zztandrel.zzlocaldb";
inline constexpr std::string_view kServerDatabaseName = "zztandrel.zzserverdb";
// The one temporary name per directory: a transfer, or a database save, writes
// here first and is renamed over its target only when complete. A copy left by
// a killed run is simply replaced by the next one.
inline constexpr std::string_view kTemporaryName = "zztandrel.zztemp";

// True for the two database names and the temporary name.
inline bool isReservedName(std::string_view name) {
  return name == kLocalDatabaseName || name == kServerDatabaseName || name == kTemporaryName;
}

// A name that must never reach the wire or a path: empty, or holding CR, LF, NUL or '/'.
bool isUnsafeName(std::string_view name);

}  // namespace tandrel
