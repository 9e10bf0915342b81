#include "storage/reserved_names.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <string>

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

namespace {

// A temporary copy (not a moved-aside ".old" one) that a run of this host left
// and whose process is gone: killed runs leave these, and no one else will
// ever finish them.
bool leftByDeadRunHere(const std::string& name) {
  static const std::string mine = temporaryName();
  // PREFIX.HOST.PID.TIME.RANDOM: the host part holds no dots.
  const size_t hostEnd = mine.find('.', kTemporaryPrefix.size() + 1);
  if (name.size() <= hostEnd || name.compare(0, hostEnd + 1, mine, 0, hostEnd + 1) != 0) {
    return false;
  }
  const size_t pidEnd = name.find('.', hostEnd + 1);
  if (pidEnd == std::string::npos || name.ends_with(".old")) return false;
  const std::string digits = name.substr(hostEnd + 1, pidEnd - hostEnd - 1);
  if (digits.empty() || digits.size() > 9 ||
      digits.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  return kill(static_cast<pid_t>(std::stol(digits)), 0) != 0 && errno == ESRCH;
}

}  // namespace

bool isAbandonedTemporary(const ListRecord& record, FileTime now) {
  if (record.kind != RecordKind::file || record.isLink ||
      !std::string_view(record.name).starts_with(kTemporaryPrefix) ||
      record.name == temporaryName()) {
    return false;
  }
  if (leftByDeadRunHere(record.name)) return true;
  return record.writeTime != 0 && record.writeTime + kAbandonedAfter < now;
}

bool isUnsafeName(std::string_view name) {
  if (name.empty()) return true;
  for (char c : name) {
    if (c == '\r' || c == '\n' || c == '\0' || c == '/') return true;
  }
  return false;
}

}  // namespace tandrel
