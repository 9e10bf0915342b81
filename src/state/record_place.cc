#include "state/record_place.h"

#include "storage/reserved_names.h"

namespace tandrel {

std::string placeBelow(const std::string& parent, const std::string& name) {
  return parent == "/" ? "/" + name : parent + "/" + name;
}

std::string placeFileBytes(const Place& place) {
  return place.path + "\nlocal " + place.local + "\nserver " + place.server + "\n";
}

bool recordsBelongHere(LocalSide& local, const Place& place, bool parentVouches) {
  std::string bytes;
  if (!local.readFile(std::string(kPlaceName), bytes).ok()) return parentVouches;
  const size_t pathEnd = bytes.find('\n');
  if (pathEnd != std::string::npos && bytes.compare(0, pathEnd, place.path) == 0 &&
      pathEnd == place.path.size()) {
    return true;
  }
  // A damaged file binds to no place at all.
  const std::string bound = placeFileBytes(place);
  return pathEnd != std::string::npos && bytes.substr(pathEnd) == bound.substr(bound.find('\n'));
}

}  // namespace tandrel
