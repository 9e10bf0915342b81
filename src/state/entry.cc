#include "state/entry.h"

#include <algorithm>
#include <cstring>

namespace tandrel {

Entry::Entry(const ListRecord& record)
    : name(record.name),
      writeTime(record.writeTime),
      isDirectory(record.isDirectory()),
      size(record.size),
      timeShown(record.timeShown),
      isLink(record.isLink),
      listedTime(record.writeTime) {}

std::unique_ptr<Entry> Entry::copyOf(const Entry& other) {
  auto copy = std::make_unique<Entry>();
  copy->name = other.name;
  copy->isDirectory = other.isDirectory;
  return copy;
}

void Entry::setTimeFrom(const ListRecord& record) {
  writeTime = record.writeTime;
  size = record.size;
}

int compareEntries(const Entry* a, const Entry* b) {
  if (a == nullptr) return 1;
  if (b == nullptr) return -1;
  if (!a->isDirectory && b->isDirectory) return -1;
  if (a->isDirectory && !b->isDirectory) return 1;
  // Up to and including the terminating NUL: a prefix sorts first.
  size_t common = std::min(a->name.size(), b->name.size());
  int byBytes = std::memcmp(a->name.data(), b->name.data(), common);
  if (byBytes != 0) return byBytes < 0 ? -1 : 1;
  if (a->name.size() == b->name.size()) return 0;
  return a->name.size() < b->name.size() ? -1 : 1;
}

void commitEntry(Entry* entry, bool ok) {
  if (entry == nullptr || entry->skipped) return;
  if (ok) {
    entry->touched = true;
    if (entry->state == EntryState::Deleted) entry->state = EntryState::Dropped;
    return;
  }
  entry->touched = false;
  entry->state = entry->state == EntryState::New ? EntryState::Dropped : EntryState::Unchanged;
}

}  // namespace tandrel
