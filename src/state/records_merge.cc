#include "state/records_merge.h"

#include <memory>
#include <utility>

#include "storage/file_time.h"

namespace tandrel {

namespace {

// The state of a listed entry that has a record, and the time to keep for it.
void settleRecorded(Entry& current, const Entry& record, bool isLocal) {
  if (current.skipped) {
    // Carried over as recorded, whatever the side shows now.
    current.writeTime = record.writeTime;
    current.state = EntryState::Unchanged;
  } else if (!current.isDirectory && current.timeShown != TimeShown::all &&
             agreesInShownFields(current.writeTime, current.timeShown, record.writeTime)) {
    // The listing shows less of the time than the record holds (no year,
    // no time of day, no time at all), and what it shows is as recorded.
    current.writeTime = record.writeTime;
    current.state = EntryState::Unchanged;
  } else if (!isLocal && !current.isDirectory &&
             withinRecordedMinute(current.writeTime, record.writeTime)) {
    // Recorded from a listing that showed minutes (LIST), listed now with
    // seconds (MLSD): the same time, seen more precisely.
    current.writeTime = record.writeTime;
    current.state = EntryState::Unchanged;
  } else if (!current.isDirectory && current.writeTime > record.writeTime) {
    current.writeTime = record.writeTime;
    current.state = EntryState::Changed;
  } else {
    current.state = EntryState::Unchanged;
  }
}

// The entry that stands for a record the listing no longer shows.
std::unique_ptr<Entry> placeholderFor(const Entry& record, bool unreadLines) {
  std::unique_ptr<Entry> placeholder = Entry::copyOf(record);
  if (unreadLines) {
    // The listing holds a line we could not read, which may be this entry:
    // it is not taken as deleted.
    placeholder->writeTime = record.writeTime;
    placeholder->state = EntryState::Unchanged;
    placeholder->skipped = true;
  } else {
    placeholder->state = EntryState::Deleted;
  }
  return placeholder;
}

}  // namespace

EntryList mergeWithRecords(EntryList listed, const EntryList& recorded, bool isLocal,
                           bool unreadLines) {
  EntryList merged;
  merged.reserve(listed.size() + recorded.size());
  size_t p = 0, d = 0;
  while (p < listed.size() || d < recorded.size()) {
    Entry* current = p < listed.size() ? listed[p].get() : nullptr;
    const Entry* record = d < recorded.size() ? recorded[d].get() : nullptr;
    const int c = compareEntries(current, record);
    if (c < 0) {
      // A skipped name without a record stays Dropped: it is never saved.
      if (!current->skipped) current->state = EntryState::New;
      merged.push_back(std::move(listed[p++]));
    } else if (c == 0) {
      settleRecorded(*current, *record, isLocal);
      merged.push_back(std::move(listed[p++]));
      ++d;
    } else {
      merged.push_back(placeholderFor(*record, unreadLines));
      ++d;
    }
  }
  return merged;
}

}  // namespace tandrel
