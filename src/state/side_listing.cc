#include "state/side_listing.h"

#include <algorithm>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "console/error_text.h"
#include "console/output.h"
#include "state/record_place.h"
#include "state/run_state.h"
#include "storage/failure.h"
#include "storage/file_time.h"
#include "storage/reserved_names.h"
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
bool isSecondWayIn(LocalSide& local, const ListRecord& record) {
  if (isOpenLocalDirectory(record)) return true;
  if (!openLocalDirectories.empty()) {
    const auto& start = openLocalDirectories.front();
    if (local.directoryLiesWithin(record.name, start.first, start.second)) return true;
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
Admission admit(Run& run, const ListRecord& record, bool isLocal) {
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
      if (run.settings.recursive &&
          (isLocal ? record.isLink && isSecondWayIn(run.local, record) : record.loop)) {
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
// (isDirectory 0) or directories (1).
Entry* skippedEntry(const std::string& name, int isDirectory) {
  Entry* entry = new Entry;
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
    bool ok = run.side(isLocal).changeDirectory(name);
    setErrorText(!ok);
    if (!ok) {
      reportError(isLocal ? "Error: Can't change local directory to '%s'"
                          : "Error: Can't change server directory to '%s'",
                  name.c_str());
      return 0;
    }
    entered = 1;
  }
  // A replacement a run left half done here is finished or undone before the
  // listing could take its copies for files of their own, or for leftovers.
  keepTemporaries_ = !isLocal && !settleReplacement(run.local, run.server);
  if (isLocal) {
    ListRecord here;
    if (run.local.lookUp(".", here)) {
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
  if (isLocal && !place.path.empty())
    recordsIgnored = !recordsBelongHere(run.local, place, parentVouches);
  Entry* recorded = nullptr;
  if (!recordsIgnored && !database.load(run.local, isLocal, recorded)) {
    reportError("Warning: Can't load %s database file '%s'", sideName(),
                StateDatabase::fileName(isLocal));
    recorded = nullptr;
  }
  hadRecords = recorded != nullptr;
  merge(recorded);
  delete recorded;
  cursor = &head;
  return 1;
}

bool SideListing::listDirectory() {
  std::vector<ListRecord> records;
  bool ok = run.side(isLocal).list(records);
  setErrorText(!ok);
  if (!ok) return false;
  if (!keepTemporaries_) removeAbandonedTemporaries(run.side(isLocal), records);
  // Sorting once keeps a listing of n entries at n log n; stable, so that equal
  // names keep the order the side gave them, as one-by-one insertion would.
  std::vector<Entry*> entries;
  std::vector<std::string> skippedNames;
  entries.reserve(records.size());
  for (const ListRecord& record : records) {
    switch (admit(run, record, isLocal)) {
      case Admission::entry: entries.push_back(new Entry(record)); break;
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
    entries.push_back(skippedEntry(name, 0));
    entries.push_back(skippedEntry(name, 1));
  }
  std::stable_sort(entries.begin(), entries.end(),
                   [](const Entry* a, const Entry* b) { return compareEntries(a, b) < 0; });
  // Of one name and kind, a skipped marker wins over everything else listed.
  std::vector<Entry*> kept;
  kept.reserve(entries.size());
  for (size_t i = 0; i < entries.size();) {
    size_t end = i + 1;
    while (end < entries.size() && compareEntries(entries[i], entries[end]) == 0) ++end;
    Entry* marker = nullptr;
    for (size_t j = i; j < end && !marker; ++j) {
      if (entries[j]->skipped) marker = entries[j];
    }
    for (size_t j = i; j < end; ++j) {
      if (marker == nullptr || entries[j] == marker) {
        kept.push_back(entries[j]);
      } else {
        delete entries[j];
      }
    }
    i = end;
  }
  Entry** tail = &head;
  while (*tail != nullptr) tail = &(*tail)->next;
  for (Entry* entry : kept) {
    *tail = entry;
    tail = &entry->next;
  }
  return true;
}

void SideListing::merge(Entry* recorded) {
  Entry** p = &head;
  Entry* d = recorded;
  while (*p != nullptr || d != nullptr) {
    Entry* current = *p;
    int c = compareEntries(current, d);
    if (c < 0) {
      // A skipped name without a record stays Dropped: it is never saved.
      if (!current->skipped) current->state = New;
      p = &current->next;
    } else if (c == 0) {
      if (current->skipped) {
        // Carried over as recorded, whatever the side shows now.
        current->writeTime = d->writeTime;
        current->state = Unchanged;
      } else if (!current->isDirectory && current->timeShown != TimeShown::all &&
                 agreesInShownFields(current->writeTime, current->timeShown, d->writeTime)) {
        // The listing shows less of the time than the record holds (no year,
        // no time of day, no time at all), and what it shows is as recorded.
        current->writeTime = d->writeTime;
        current->state = Unchanged;
      } else if (!isLocal && !current->isDirectory &&
                 withinRecordedMinute(current->writeTime, d->writeTime)) {
        // Recorded from a listing that showed minutes (LIST), listed now with
        // seconds (MLSD): the same time, seen more precisely.
        current->writeTime = d->writeTime;
        current->state = Unchanged;
      } else if (!current->isDirectory && current->writeTime > d->writeTime) {
        current->writeTime = d->writeTime;
        current->state = Changed;
      } else {
        current->state = Unchanged;
      }
      p = &current->next;
      d = d->next;
    } else {
      Entry* placeholder = Entry::copyOf(*d);
      if (unreadLines_) {
        // The listing holds a line we could not read, which may be this entry:
        // it is not taken as deleted.
        placeholder->writeTime = d->writeTime;
        placeholder->state = Unchanged;
        placeholder->skipped = true;
      } else {
        placeholder->state = Deleted;
      }
      placeholder->next = current;
      *p = placeholder;
      p = &placeholder->next;
      d = d->next;
    }
  }
}

Entry* SideListing::first(int kind) {
  if (cursor == nullptr || *cursor == nullptr) return nullptr;
  return ((*cursor)->isDirectory != 0) == (kind != 0) ? *cursor : nullptr;
}

Entry* SideListing::next(int kind) {
  if (cursor == nullptr) {
    cursor = &head;
  } else if (*cursor != nullptr && ((*cursor)->isDirectory != 0) == (kind != 0)) {
    cursor = &(*cursor)->next;
  }
  return first(kind);
}

void SideListing::insertAtCursor(Entry* entry) {
  entry->next = *cursor;
  *cursor = entry;
  cursor = &entry->next;
}

void SideListing::insertSorted(Entry* entry) {
  Entry** link = &head;
  while (*link != nullptr && compareEntries(entry, *link) >= 0) link = &(*link)->next;
  entry->next = *link;
  *link = entry;
}

bool SideListing::needsSave() const {
  for (const Entry* entry = head; entry != nullptr; entry = entry->next) {
    if (entry->touched) return true;
  }
  return false;
}

void SideListing::close() {
  if (head != nullptr) {
    if (!run.lostInTree && !saved) database.save(run.local, head, isLocal);
    delete head;
    head = nullptr;
  }
  if (entered) {
    // After a failed return somewhere below, ".." would lead somewhere else.
    if (!run.lostInTree) {
      bool ok = run.side(isLocal).changeDirectory("..");
      setErrorText(!ok);
      // Still inside the directory just left: every later name would point
      // into it (a deletion meant for the parent's entry would hit the
      // child's namesake), so the run stops here.
      if (!ok) run.lostInTree = true;
    }
    entered = 0;
  }
  unreadLines_ = false;
  saved = false;
  if (identified_) {
    openLocalDirectories.pop_back();
    identified_ = false;
  }
  cursor = nullptr;
}

namespace {

// One file of the group: its new bytes, or nothing to remove it.
struct GroupWrite {
  std::string name;
  std::optional<std::string> bytes;
  const char* warning;
  std::optional<std::string> old;
};

bool writeOrRemove(LocalSide& side, const std::string& name,
                   const std::optional<std::string>& bytes) {
  if (bytes) return side.replaceFile(name, *bytes);
  return side.deleteFile(name) || lastFailure().kind == FailureKind::notFound;
}

}  // namespace

void saveTogether(SideListing& local, SideListing& server) {
  if (local.run.lostInTree || (local.head == nullptr && server.head == nullptr)) return;
  const bool localSaves = local.needsSave(), serverSaves = server.needsSave();
  local.saved = server.saved = true;
  if (!localSaves && !serverSaves) return;
  // The local database first: should the run die between the two, the side
  // with new records is the one whose files the run changed least.
  std::vector<GroupWrite> group;
  for (SideListing* listing : {&local, &server}) {
    const bool saves = listing == &local ? localSaves : serverSaves;
    if (!saves && !local.recordsIgnored) continue;
    group.push_back({StateDatabase::fileName(listing->isLocal),
                     saves ? std::optional(encodeDatabase(listing->head)) : std::nullopt,
                     listing->isLocal ? "Warning: Can't save local database file"
                                      : "Warning: Can't save server database file",
                     std::nullopt});
  }
  std::string bound;
  if (!local.place.path.empty() && (!local.run.local.readFile(std::string(kPlaceName), bound) ||
                                    bound != placeFileBytes(local.place))) {
    group.push_back({std::string(kPlaceName), placeFileBytes(local.place),
                     "Warning: Can't save database place file", std::nullopt});
  }
  for (GroupWrite& write : group) {
    std::string bytes;
    if (local.run.local.readFile(write.name, bytes)) write.old = std::move(bytes);
  }
  for (size_t i = 0; i < group.size(); ++i) {
    if (writeOrRemove(local.run.local, group[i].name, group[i].bytes)) continue;
    setErrorText(true);
    reportError("%s", group[i].warning);
    const Failure failure = lastFailure();
    while (i-- > 0) writeOrRemove(local.run.local, group[i].name, group[i].old);
    recordFailure(failure.kind, failure.text);
    return;
  }
}

}  // namespace tandrel
