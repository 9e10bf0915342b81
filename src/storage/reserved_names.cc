#include "storage/reserved_names.h"

namespace tandrel {

bool isUnsafeName(std::string_view name) {
  if (name.empty()) return true;
  for (char c : name) {
    if (c == '\r' || c == '\n' || c == '\0' || c == '/') return true;
  }
  return false;
}

}  // namespace tandrel
