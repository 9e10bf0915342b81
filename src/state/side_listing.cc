#include "state/side_listing.h"

#include <algorithm>
#include <cstddef>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "state/listing_admission.h"
#include "state/record_place.h"
#include "state/records_merge.h"
#include "state/run_state.h"
#include "state/state_database.h"
#include "storage/transfer.h"

namespace tandrel {

bool SideListing::open(const std::string& name) {
  if (!name.empty()) {
    Status changed = run.side(isLocal).changeDirectory(name);
    if (!changed.ok()) {
      run.report.error(changed,
                       isLocal ? "Error: Can't change local directory to '%s'"
                               : "Error: Can't change server directory to '%s'",
                       name.c_str());
      return false;
    }
    entered = true;
  }
  // A replacement a run left half done here is finished or undone before the
  // listing could take its copies for files of their own, or for leftovers.
  keepTemporaries_ = !isLocal && !settleReplacement(run.local, run.server);
  if (isLocal) {
    ListRecord here;
    if (run.local.lookUp(".", here).ok()) {
      enterLocalDirectory(run, here.device, here.inode);
      identified_ = true;
      place.local = std::to_string(here.device) + ":" + std::to_string(here.inode);
    }
  }
  if (Status listed = listDirectory(); !listed.ok()) {
    run.report.error(listed, isLocal ? "Error: Can't load local directory file list"
                                     : "Error: Can't load server directory file list");
    return false;
  }
  if (isLocal && !place.path.empty()) {
    recordsIgnored = !recordsBelongHere(run.local, place, parentVouches);
  }
  std::optional<EntryList> recorded = EntryList();
  Status unread;
  if (!recordsIgnored) recorded = loadDatabase(run.local, isLocal, unread);
  if (!recorded) {
    run.report.error(unread, "Warning: Can't load %s database file '%s'", sideName(),
                     databaseFileName(isLocal));
    recorded = EntryList();
  }
  hadRecords = !recorded->empty();
  entries_ = mergeWithRecords(std::move(entries_), *recorded, isLocal, unreadLines_);
  cursor_ = 0;
  return true;
}

Status SideListing::listDirectory() {
  std::vector<ListRecord> records;
  Status listed = run.side(isLocal).list(records);
  if (!listed.ok()) return listed;
  if (!keepTemporaries_) removeAbandonedTemporaries(run.side(isLocal), records);
  EntryList admitted = admitListed(run, records, isLocal, unreadLines_);
  for (auto& entry : admitted) entries_.push_back(std::move(entry));
  return listed;
}

Entry* SideListing::current() const {
  if (!cursor_ || *cursor_ >= entries_.size()) return nullptr;
  return entries_[*cursor_].get();
}

Entry* SideListing::first(EntryKind kind) {
  Entry* entry = current();
  const bool directories = kind == EntryKind::directories;
  return entry != nullptr && entry->isDirectory == directories ? entry : nullptr;
}

Entry* SideListing::next(EntryKind kind) {
  if (!cursor_) {
    cursor_ = 0;
  } else if (first(kind) != nullptr) {
    ++*cursor_;
  }
  return first(kind);
}

Entry* SideListing::insertAtCursor(std::unique_ptr<Entry> entry) {
  Entry* inserted = entry.get();
  if (!cursor_) {
    entries_.push_back(std::move(entry));
    return inserted;
  }
  entries_.insert(entries_.begin() + static_cast<std::ptrdiff_t>(*cursor_), std::move(entry));
  ++*cursor_;
  return inserted;
}

Entry* SideListing::insertSorted(std::unique_ptr<Entry> entry) {
  Entry* inserted = entry.get();
  auto after = std::find_if(entries_.begin(), entries_.end(), [inserted](const auto& listed) {
    return compareEntries(inserted, listed.get()) < 0;
  });
  entries_.insert(after, std::move(entry));
  return inserted;
}

bool SideListing::needsSave() const {
  return std::any_of(entries_.begin(), entries_.end(),
                     [](const auto& entry) { return entry->touched; });
}

std::string SideListing::encodedRecords() const { return encodeDatabase(entries_); }

void SideListing::close() {
  if (!entries_.empty()) {
    if (!run.lostInTree && !saved) saveDatabase(run.local, isLocal, entries_, run.report);
    entries_.clear();
  }
  if (entered) {
    // After a failed return somewhere below, ".." would lead somewhere else.
    if (!run.lostInTree) {
      Status back = run.side(isLocal).changeDirectory("..");
      // Still inside the directory just left: every later name would point
      // into it (a deletion meant for the parent's entry would hit the
      // child's namesake), so the run stops here.
      if (!back.ok()) run.lostInTree = true;
    }
    entered = false;
  }
  unreadLines_ = false;
  saved = false;
  if (identified_) {
    leaveLocalDirectory(run);
    identified_ = false;
  }
  cursor_.reset();
}

}  // namespace tandrel
