#include "storage/reserved_names.h"

#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <ctime>
#include <random>

namespace tandrel {

namespace {

// 100-ns ticks in a day.
constexpr FileTime kAbandonedAfter = 24ULL * 3600 * 10000000;

std::string makeTemporaryName() {
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) != 0) host[0] = '\0';
  // Only characters every server takes in a name.
  std::string shown;
  for (const char* c = host; *c != '\0' && shown.size() < 40; ++c) {
    const unsigned char byte = static_cast<unsigned char>(*c);
    shown.push_back(std::isalnum(byte) || byte == '-' ? static_cast<char>(byte) : '_');
  }
  if (shown.empty()) shown = "host";
  const unsigned random = std::random_device{}() & 0xffffu;
  char suffix[64];
  std::snprintf(suffix, sizeof suffix, ".%ld.%lld.%04x", static_cast<long>(getpid()),
                static_cast<long long>(std::time(nullptr)), random);
  return std::string(kTemporaryPrefix) + "." + shown + suffix;
}

}  // namespace

const std::string& temporaryName() {
  static const std::string name = makeTemporaryName();
  return name;
}

bool isAbandonedTemporary(const ListRecord& record, FileTime now) {
  return record.kind == RecordKind::file && !record.isLink &&
         std::string_view(record.name).starts_with(kTemporaryPrefix) &&
         record.name != temporaryName() && record.writeTime != 0 &&
         record.writeTime + kAbandonedAfter < now;
}

bool isUnsafeName(std::string_view name) {
  if (name.empty()) return true;
  for (char c : name) {
    if (c == '\r' || c == '\n' || c == '\0' || c == '/') return true;
  }
  return false;
}

}  // namespace tandrel
