#include "state/record_place.h"

#include "storage/reserved_names.h"
#include "storage/sides.h"

namespace tandrel {

std::string placeBelow(const std::string& parent, const std::string& name) {
  return parent == "/" ? "/" + name : parent + "/" + name;
}

std::string placeFileBytes(const std::string& place) { return place + "\n"; }

std::optional<std::string> boundPlace() {
  std::string bytes;
  if (!localSide().readFile(std::string(kPlaceName), bytes)) return std::nullopt;
  if (!bytes.ends_with('\n')) bytes.clear();  // damaged: binds to no place at all
  return bytes.substr(0, bytes.empty() ? 0 : bytes.size() - 1);
}

bool recordsBelongHere(const std::string& place, bool parentVouches) {
  const std::optional<std::string> bound = boundPlace();
  return bound ? *bound == place : parentVouches;
}

}  // namespace tandrel
