#include "storage/reserved_names.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "storage/file_time.h"

namespace tandrel {

namespace {

// 100-ns ticks in a day.
constexpr FileTime kAbandonedAfter = 24ULL * 3600 * 10000000;
constexpr size_t kMachineIdLength = 16;

bool isHexId(const std::string& text) {
  return text.size() == kMachineIdLength &&
         text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

std::string readId(const std::string& path) {
  std::ifstream file(path);
  std::string line;
  if (!file || !std::getline(file, line)) return {};
  line = line.substr(0, kMachineIdLength);
  return isHexId(line) ? line : std::string();
}

// The machine's id, so that two machines of one host name (cloned virtual
// machines, containers) tell their runs apart. Without /etc/machine-id, a
// random id kept in the user's cache folder; without that either, one for this
// run only, which makes every other run's files wait their day.
std::string makeMachineId() {
  std::string id = readId("/etc/machine-id");
  if (!id.empty()) return id;
  std::string cache;
  if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg && *xdg == '/') {
    cache = xdg;
  } else if (const char* home = std::getenv("HOME"); home && *home == '/') {
    cache = std::string(home) + "/.cache";
  }
  const std::string folder = cache + "/tandrel";
  const std::string path = folder + "/machine-id";
  if (!cache.empty()) {
    id = readId(path);
    if (!id.empty()) return id;
  }
  std::random_device random;
  char text[kMachineIdLength + 1];
  std::snprintf(text, sizeof text, "%08x%08x", random(), random());
  id = text;
  if (!cache.empty()) {
    mkdir(cache.c_str(), 0700);
    mkdir(folder.c_str(), 0700);
    const std::string temporary = path + "." + std::to_string(getpid());
    std::ofstream file(temporary);
    file << id << '\n';
    file.close();
    // Two first runs at once: the first id to arrive is everyone's.
    if (!file || link(temporary.c_str(), path.c_str()) != 0) {
      const std::string kept = readId(path);
      if (!kept.empty()) id = kept;
    }
    unlink(temporary.c_str());
  }
  return id;
}

std::string makeTemporaryName() {
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) != 0) host[0] = '\0';
  // Only characters every server takes in a name, and no dots: the fields of
  // the name are told apart by them.
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
  return std::string(kTemporaryPrefix) + shown + "." + makeMachineId() + suffix;
}

// What a temporary name tells of the run that made it.
struct TemporaryOrigin {
  std::string host;
  std::string machine;  // empty for names of older versions, which had none
  long pid = 0;
  int64_t time = 0;     // Unix seconds: the run's start, or when a copy was moved aside
  bool aside = false;
};

bool isNumber(const std::string& text) {
  return !text.empty() && text.size() <= 18 &&
         text.find_first_not_of("0123456789") == std::string::npos;
}

// Reads PREFIX HOST [MACHINE] PID TIME RANDOM [MOVED] [old]; false for any
// other form.
bool readOrigin(std::string_view name, TemporaryOrigin& origin) {
  if (!name.starts_with(kTemporaryPrefix)) return false;
  std::vector<std::string> fields;
  std::string_view rest = name.substr(kTemporaryPrefix.size());
  for (;;) {
    const size_t dot = rest.find('.');
    fields.emplace_back(rest.substr(0, dot));
    if (dot == std::string_view::npos) break;
    rest.remove_prefix(dot + 1);
  }
  origin = TemporaryOrigin{};
  if (fields.back() == "old") {
    origin.aside = true;
    fields.pop_back();
  }
  std::string moved;
  if (fields.size() == 6) {
    moved = fields.back();
    fields.pop_back();
  }
  size_t at = 0;
  if (fields.size() == 5) {
    origin.machine = fields[1];
    at = 1;
  } else if (fields.size() != 4 || !moved.empty()) {
    return false;
  }
  const std::string& pid = fields[at + 1];
  const std::string& time = moved.empty() ? fields[at + 2] : moved;
  if (!isNumber(pid) || !isNumber(time) || pid.size() > 9) return false;
  origin.host = fields[0];
  origin.pid = std::stol(pid);
  origin.time = std::stoll(time);
  return true;
}

}  // namespace

const std::string& temporaryName() {
  static const std::string name = makeTemporaryName();
  return name;
}

std::string asideName(int64_t now) {
  return temporaryName() + "." + std::to_string(now) + ".old";
}

bool isAbandonedTemporary(const ListRecord& record, FileTime now) {
  const std::string_view name = record.name;
  if (record.kind != RecordKind::file || record.isLink ||
      !(name == kBareTemporaryName || name.starts_with(kTemporaryPrefix)) ||
      name.starts_with(temporaryName())) {
    return false;
  }
  TemporaryOrigin origin;
  if (!readOrigin(name, origin)) {
    return record.writeTime != 0 && record.writeTime + kAbandonedAfter < now;
  }
  static const std::optional<TemporaryOrigin> mine = []() -> std::optional<TemporaryOrigin> {
    TemporaryOrigin origin;
    if (!readOrigin(temporaryName(), origin)) return std::nullopt;
    return origin;
  }();
  // A copy in progress of a run of this machine whose process is gone: killed
  // runs leave these, and no one else will ever finish them. A copy moved
  // aside is the old content of a file and waits its day in any case.
  if (mine && !origin.aside && origin.host == mine->host && origin.machine == mine->machine &&
      kill(static_cast<pid_t>(origin.pid), 0) != 0 && errno == ESRCH) {
    return true;
  }
  return fileTimeFromUnix(origin.time) + kAbandonedAfter < now;
}

bool isUnsafeName(std::string_view name) {
  if (name.empty()) return true;
  for (char c : name) {
    if (c == '\r' || c == '\n' || c == '\0' || c == '/') return true;
  }
  return false;
}

}  // namespace tandrel
