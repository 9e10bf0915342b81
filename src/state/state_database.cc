#include "state/state_database.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>

#include "storage/local_side.h"
#include "storage/reserved_names.h"

namespace tandrel {

namespace {

constexpr char kMagic[] = "TANDRELDATABASE";
constexpr size_t kMagicLength = 15;

void putLittleEndian(std::string& bytes, uint64_t value, int width) {
  for (int i = 0; i < width; ++i) bytes.push_back(static_cast<char>((value >> (8 * i)) & 0xff));
}

// Reads untrusted bytes: every read is checked against what is left.
class Reader {
 public:
  explicit Reader(const std::string& bytes) : bytes_(bytes) {}
  bool take(size_t count, const char*& data) {
    if (bytes_.size() - position_ < count) return false;
    data = bytes_.data() + position_;
    position_ += count;
    return true;
  }
  bool number(int width, uint64_t& value) {
    const char* data;
    if (!take(static_cast<size_t>(width), data)) return false;
    value = 0;
    for (int i = width - 1; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(data[i]);
    return true;
  }

 private:
  const std::string& bytes_;
  size_t position_ = 0;
};

}  // namespace

const char* databaseFileName(bool isLocal) {
  return isLocal ? kLocalDatabaseName.data() : kServerDatabaseName.data();
}

std::string encodeDatabase(const EntryList& list) {
  std::string bytes(kMagic, kMagicLength);
  for (const auto& entry : list) {
    if (entry->state == EntryState::Dropped) continue;
    // A name never exceeds 255 bytes on any file system we talk to; the cap
    // only keeps the length field honest.
    size_t length = std::min<size_t>(entry->name.size(), 0xffff);
    putLittleEndian(bytes, length, 2);
    bytes.append(entry->name.data(), length);
    putLittleEndian(bytes, entry->writeTime & 0xffffffffu, 4);
    putLittleEndian(bytes, entry->writeTime >> 32, 4);
    putLittleEndian(bytes, entry->isDirectory ? 1 : 0, 4);
  }
  putLittleEndian(bytes, 0, 2);
  return bytes;
}

bool decodeDatabase(const std::string& bytes, EntryList& list) {
  list.clear();
  Reader reader(bytes);
  const char* magic;
  if (!reader.take(kMagicLength, magic)) return false;
  if (std::memcmp(magic, kMagic, kMagicLength) != 0) return true;
  bool ok = false;
  for (;;) {
    uint64_t length;
    if (!reader.number(2, length)) break;
    if (length == 0) {
      ok = true;
      break;
    }
    const char* name;
    uint64_t low, high, isDirectory;
    if (!reader.take(length, name) || !reader.number(4, low) || !reader.number(4, high) ||
        !reader.number(4, isDirectory)) {
      break;
    }
    auto entry = std::make_unique<Entry>();
    entry->name.assign(name, length);
    entry->writeTime = (high << 32) | low;
    // Anything but 0 is a directory: the walk only ever asks "directory or not".
    entry->isDirectory = isDirectory != 0;
    list.push_back(std::move(entry));
  }
  if (!ok) list.clear();
  return ok;
}

std::optional<EntryList> loadDatabase(LocalSide& local, bool isLocal, Status& unread) {
  std::string bytes;
  EntryList list;
  if (Status read = local.readFile(databaseFileName(isLocal), bytes); !read.ok()) {
    if (read.isNotFound()) return list;
    unread = std::move(read);
    return std::nullopt;
  }
  if (!decodeDatabase(bytes, list)) return std::nullopt;
  return list;
}

bool saveDatabase(LocalSide& local, bool isLocal, const EntryList& list, Reporter& report) {
  if (std::none_of(list.begin(), list.end(), [](const auto& entry) { return entry->touched; })) {
    return true;
  }
  Status saved = local.replaceFile(databaseFileName(isLocal), encodeDatabase(list));
  if (!saved.ok()) {
    report.error(saved, isLocal ? "Warning: Can't save local database file"
                                : "Warning: Can't save server database file");
  }
  return saved.ok();
}

}  // namespace tandrel
