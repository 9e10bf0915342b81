#include "state/side_listing.h"

#include <algorithm>
#include <cstddef>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "state/record_place.h"
#include "state/run_state.h"
#include "console/error_text.h"
#include "console/output.h"
#include "storage/failure.h"
#include "storage/file_time.h"
#include "storage/reserved_names.h"
#include "storage/sides.h"
#include "storage/transfer.h"

namespace tandrel {

namespace {

// The local directories being synchronised, outermost first, by device and
// inode: a symbolic link leading back into one of them would loop for ever.
std::vector<std::pair<uint64_t, uint64_t>> openLocalDirectories;

bool isOpenLocalDirectory(const ListRecord& record) {
  return std::find(openLocalDirectories.begin(), openLocalDirectories.end(),
                   std::make_pair(record.device, record.inode)) != openLocalDirectories.end();
}

// Directories outside the tree that a link has already led to in this run.
std::vector<std::pair<uint64_t, uint64_t>> linkedLocalDirectories;

// A second way into one local directory (a link into the tree, or two links to
// one directory) would share its state files: what one way records, the other
// would take for deletions on the server. Only the first way is followed.
bool isSecondWayIn(const ListRecord& record) {
  if (isOpenLocalDirectory(record)) return true;
  if (!openLocalDirectories.empty()) {
    const auto& start = openLocalDirectories.front();
    if (localSide().directoryLiesWithin(record.name, start.first, start.second)) return true;
  }
  const auto target = std::make_pair(record.device, record.inode);
  if (std::find(linkedLocalDirectories.begin(), linkedLocalDirectories.end(), target) !=
      linkedLocalDirectories.end()) {
    return true;
  }
  linkedLocalDirectories.push_back(target);
  return false;
}

// Control bytes spelled out, so that a name or a line prints whole on one line
// and cannot move the terminal's cursor.
std::string shownSafely(std::string_view text) {
  std::string shown;
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '\r': shown += "\\r"; break;
      case '\n': shown += "\\n"; break;
      case '\0': shown += "\\0"; break;
      default:
        if (byte < 0x20 || byte == 0x7f) {
          static constexpr char kHex[] = "0123456789abcdef";
          shown += "\\x";
          shown += kHex[byte >> 4];
          shown += kHex[byte & 0xf];
        } else {
          shown += c;
        }
    }
  }
  return shown;
}

enum class Admission {
  entry,     // becomes an entry
  ignored,   // not an entry, nothing to say ("." and "..", the tool's own files)
  skipped,   // the side has it but the run cannot handle it
  unreadable,  // a listing line that may be any entry of the directory
};

// Whether a listed record becomes an entry. Says why when it does not and the
// user should know.
Admission admit(const ListRecord& record, bool isLocal) {
  const std::string& name = record.name;
  const char* side = isLocal ? "local" : "server";
  switch (record.kind) {
    case RecordKind::unreadable:
      out("Warning: Can't read the server's listing line '%s'\n", shownSafely(name).c_str());
      noteProblem();
      return Admission::unreadable;
    case RecordKind::leadsOut:
      out("Warning: Skipping '%s' on %s: the name leads out of the directory\n",
          shownSafely(name).c_str(), side);
      noteProblem();
      return Admission::unreadable;
    default:
      break;
  }
  if (name == "." || name == ".." || isReservedName(name)) return Admission::ignored;
  if (isUnsafeName(name)) {
    // Printed with its line breaks spelled out, so the terminal shows it whole.
    out("Error: Skipping '%s' on %s: its name holds a line break\n", shownSafely(name).c_str(),
        side);
    noteProblem();
    return Admission::skipped;
  }
  switch (record.kind) {
    case RecordKind::special:
      out("Warning: Skipping '%s' on %s: not a regular file or directory\n", name.c_str(), side);
      noteProblem();
      return Admission::skipped;
    case RecordKind::danglingLink:
      out("Warning: Skipping '%s' on %s: symbolic link to nothing\n", name.c_str(), side);
      noteProblem();
      return Admission::skipped;
    case RecordKind::directory:
      // A server directory that leads back up is a link the server may not
      // show as one.
      if (settings.recursive && (isLocal ? record.isLink && isSecondWayIn(record) : record.loop)) {
        out("Warning: Skipping '%s' on %s: symbolic link to a directory being synchronized\n",
            name.c_str(), side);
        noteProblem();
        return Admission::skipped;
      }
      return Admission::entry;
    default:
      break;
  }
  if (!isLocal && record.timeShown == TimeShown::none) {
    static bool warned = false;
    if (!warned) {
      warned = true;
      out("Warning: The server gives no write times: changes of its files can't be seen\n");
      noteProblem();
    }
  }
  return Admission::entry;
}

// A marker that keeps the name out of this run on this side, for files
// or directories.
std::unique_ptr<Entry> skippedEntry(const std::string& name, bool isDirectory) {
  auto entry = std::make_unique<Entry>();
  entry->name = name;
  entry->isDirectory = isDirectory;
  entry->skipped = true;
  return entry;
}

// Every name a listing line we could not read may stand for: the whole line,
// and each part of it that follows a space (the name is at the end of every
// listing style), and for a name that leads out of the directory, its last part.
void addPossibleNames(const ListRecord& record, std::vector<std::string>& names) {
  const std::string& text = record.name;
  if (record.kind == RecordKind::leadsOut) {
    names.push_back(text.substr(text.rfind('/') + 1));
    return;
  }
  names.push_back(text);
  for (size_t space = text.find(' '); space != std::string::npos;
       space = text.find(' ', space + 1)) {
    names.push_back(text.substr(space + 1));
  }
}

}  // namespace

int SideListing::open(const std::string& name) {
  if (!name.empty()) {
    bool ok = isLocal ? localSide().changeDirectory(name) : serverSide().changeDirectory(name);
    setErrorText(!ok);
    if (!ok) {
      reportError(isLocal ? "Error: Can't change local directory to '%s'"
                          : "Error: Can't change server directory to '%s'",
                  name.c_str());
      return 0;
    }
    entered = true;
  }
  // A replacement a run left half done here is finished or undone before the
  // listing could take its copies for files of their own, or for leftovers.
  keepTemporaries_ = !isLocal && !settleReplacement();
  if (isLocal) {
    ListRecord here;
    if (localSide().lookUp(".", here)) {
      openLocalDirectories.emplace_back(here.device, here.inode);
      identified_ = true;
      place.local = std::to_string(here.device) + ":" + std::to_string(here.inode);
    }
  }
  if (!listDirectory()) {
    reportError(isLocal ? "Error: Can't load local directory file list"
                        : "Error: Can't load server directory file list");
    return 0;
  }
  if (isLocal && !place.path.empty()) recordsIgnored = !recordsBelongHere(place, parentVouches);
  std::optional<EntryList> recorded = EntryList();
  if (!recordsIgnored) recorded = loadDatabase(isLocal);
  if (!recorded) {
    reportError("Warning: Can't load %s database file '%s'", sideName(), databaseFileName(isLocal));
  }
  hadRecords = recorded && !recorded->empty();
  merge(recorded ? std::move(*recorded) : EntryList());
  cursor_ = 0;
  return 1;
}

bool SideListing::listDirectory() {
  std::vector<ListRecord> records;
  bool ok = isLocal ? localSide().list(records) : serverSide().list(records);
  setErrorText(!ok);
  if (!ok) return false;
  if (!keepTemporaries_) removeAbandonedTemporaries(isLocal, records);
  // Sorting once keeps a listing of n entries at n log n; stable, so that equal
  // names keep the order the side gave them, as one-by-one insertion would.
  EntryList entries;
  std::vector<std::string> skippedNames;
  entries.reserve(records.size());
  for (const ListRecord& record : records) {
    switch (admit(record, isLocal)) {
      case Admission::entry: entries.push_back(std::make_unique<Entry>(record)); break;
      case Admission::ignored: break;
      case Admission::skipped: skippedNames.push_back(record.name); break;
      case Admission::unreadable:
        unreadLines_ = true;
        addPossibleNames(record, skippedNames);
        break;
    }
  }
  // A skipped name stands for a file and for a directory alike: whatever the
  // other side or the database holds under that name is left alone too.
  for (const std::string& name : skippedNames) {
    if (name.empty() || name == "." || name == ".." || isReservedName(name)) continue;
    entries.push_back(skippedEntry(name, false));
    entries.push_back(skippedEntry(name, true));
  }
  std::stable_sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
    return compareEntries(a.get(), b.get()) < 0;
  });
  // Of one name and kind, a skipped marker wins over everything else listed.
  for (size_t i = 0; i < entries.size();) {
    size_t end = i + 1;
    while (end < entries.size() && compareEntries(entries[i].get(), entries[end].get()) == 0) {
      ++end;
    }
    const Entry* marker = nullptr;
    for (size_t j = i; j < end && !marker; ++j) {
      if (entries[j]->skipped) marker = entries[j].get();
    }
    for (size_t j = i; j < end; ++j) {
      if (marker == nullptr || entries[j].get() == marker) entries_.push_back(std::move(entries[j]));
    }
    i = end;
  }
  return true;
}

void SideListing::merge(EntryList recorded) {
  EntryList merged;
  merged.reserve(entries_.size() + recorded.size());
  size_t p = 0, d = 0;
  while (p < entries_.size() || d < recorded.size()) {
    Entry* current = p < entries_.size() ? entries_[p].get() : nullptr;
    const Entry* record = d < recorded.size() ? recorded[d].get() : nullptr;
    int c = compareEntries(current, record);
    if (c < 0) {
      // A skipped name without a record stays Dropped: it is never saved.
      if (!current->skipped) current->state = New;
      merged.push_back(std::move(entries_[p++]));
    } else if (c == 0) {
      if (current->skipped) {
        // Carried over as recorded, whatever the side shows now.
        current->writeTime = record->writeTime;
        current->state = Unchanged;
      } else if (!current->isDirectory && current->timeShown != TimeShown::all &&
                 agreesInShownFields(current->writeTime, current->timeShown, record->writeTime)) {
        // The listing shows less of the time than the record holds (no year,
        // no time of day, no time at all), and what it shows is as recorded.
        current->writeTime = record->writeTime;
        current->state = Unchanged;
      } else if (!isLocal && !current->isDirectory &&
                 withinRecordedMinute(current->writeTime, record->writeTime)) {
        // Recorded from a listing that showed minutes (LIST), listed now with
        // seconds (MLSD): the same time, seen more precisely.
        current->writeTime = record->writeTime;
        current->state = Unchanged;
      } else if (!current->isDirectory && current->writeTime > record->writeTime) {
        current->writeTime = record->writeTime;
        current->state = Changed;
      } else {
        current->state = Unchanged;
      }
      merged.push_back(std::move(entries_[p++]));
      ++d;
    } else {
      std::unique_ptr<Entry> placeholder = Entry::copyOf(*record);
      if (unreadLines_) {
        // The listing holds a line we could not read, which may be this entry:
        // it is not taken as deleted.
        placeholder->writeTime = record->writeTime;
        placeholder->state = Unchanged;
        placeholder->skipped = true;
      } else {
        placeholder->state = Deleted;
      }
      merged.push_back(std::move(placeholder));
      ++d;
    }
  }
  entries_ = std::move(merged);
}

Entry* SideListing::current() const {
  if (!cursor_ || *cursor_ >= entries_.size()) return nullptr;
  return entries_[*cursor_].get();
}

Entry* SideListing::first(bool directories) {
  Entry* entry = current();
  return entry != nullptr && entry->isDirectory == directories ? entry : nullptr;
}

Entry* SideListing::next(bool directories) {
  if (!cursor_) {
    cursor_ = 0;
  } else if (first(directories) != nullptr) {
    ++*cursor_;
  }
  return first(directories);
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

void SideListing::close() {
  if (!entries_.empty()) {
    if (!lostInTree && !saved) saveDatabase(isLocal, entries_);
    entries_.clear();
  }
  if (entered) {
    // After a failed return somewhere below, ".." would lead somewhere else.
    if (!lostInTree) {
      bool ok = isLocal ? localSide().changeDirectory("..") : serverSide().changeDirectory("..");
      setErrorText(!ok);
      // Still inside the directory just left: every later name would point
      // into it (a deletion meant for the parent's entry would hit the
      // child's namesake), so the run stops here.
      if (!ok) lostInTree = 1;
    }
    entered = false;
  }
  unreadLines_ = false;
  saved = false;
  if (identified_) {
    openLocalDirectories.pop_back();
    identified_ = false;
  }
  cursor_.reset();
}

namespace {

// One file of the group: its new bytes, or nothing to remove it.
struct GroupWrite {
  std::string name;
  std::optional<std::string> bytes;
  const char* warning;
  std::optional<std::string> old;
};

bool writeOrRemove(const std::string& name, const std::optional<std::string>& bytes) {
  if (bytes) return localSide().replaceFile(name, *bytes);
  return localSide().deleteFile(name) || lastFailure().kind == FailureKind::notFound;
}

}  // namespace

void saveTogether(SideListing& local, SideListing& server) {
  if (lostInTree || (local.entries_.empty() && server.entries_.empty())) return;
  const bool localSaves = local.needsSave(), serverSaves = server.needsSave();
  local.saved = server.saved = true;
  if (!localSaves && !serverSaves) return;
  // The local database first: should the run die between the two, the side
  // with new records is the one whose files the run changed least.
  std::vector<GroupWrite> group;
  for (SideListing* listing : {&local, &server}) {
    const bool saves = listing == &local ? localSaves : serverSaves;
    if (!saves && !local.recordsIgnored) continue;
    group.push_back({databaseFileName(listing->isLocal),
                     saves ? std::optional(encodeDatabase(listing->entries_)) : std::nullopt,
                     listing->isLocal ? "Warning: Can't save local database file"
                                      : "Warning: Can't save server database file",
                     std::nullopt});
  }
  std::string bound;
  if (!local.place.path.empty() &&
      (!localSide().readFile(std::string(kPlaceName), bound) ||
       bound != placeFileBytes(local.place))) {
    group.push_back({std::string(kPlaceName), placeFileBytes(local.place),
                     "Warning: Can't save database place file", std::nullopt});
  }
  for (GroupWrite& write : group) {
    std::string bytes;
    if (localSide().readFile(write.name, bytes)) write.old = std::move(bytes);
  }
  for (size_t i = 0; i < group.size(); ++i) {
    if (writeOrRemove(group[i].name, group[i].bytes)) continue;
    setErrorText(true);
    reportError("%s", group[i].warning);
    const Failure failure = lastFailure();
    while (i-- > 0) writeOrRemove(group[i].name, group[i].old);
    recordFailure(failure.kind, failure.text);
    return;
  }
}

}  // namespace tandrel
