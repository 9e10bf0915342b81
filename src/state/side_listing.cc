#include "state/side_listing.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "state/run_state.h"
#include "console/error_text.h"
#include "console/output.h"
#include "storage/reserved_names.h"
#include "storage/sides.h"

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

// Whether a listed record becomes an entry. Says why when it does not and the
// user should know.
bool admit(const ListRecord& record, bool isLocal) {
  const std::string& name = record.name;
  if (name == "." || name == ".." || isReservedName(name)) return false;
  const char* side = isLocal ? "local" : "server";
  if (isUnsafeName(name)) {
    // Printed with its line breaks spelled out, so the terminal shows it whole.
    std::string shown;
    for (char c : name) {
      switch (c) {
        case '\r': shown += "\\r"; break;
        case '\n': shown += "\\n"; break;
        case '\0': shown += "\\0"; break;
        default: shown += c;
      }
    }
    out("Error: Skipping '%s' on %s: its name holds a line break\n", shown.c_str(), side);
    noteProblem();
    return false;
  }
  switch (record.kind) {
    case RecordKind::special:
      out("Warning: Skipping '%s' on %s: not a regular file or directory\n", name.c_str(), side);
      noteProblem();
      return false;
    case RecordKind::danglingLink:
      out("Warning: Skipping '%s' on %s: symbolic link to nothing\n", name.c_str(), side);
      noteProblem();
      return false;
    case RecordKind::directory:
      if (isLocal && record.isLink && settings.recursive && isSecondWayIn(record)) {
        out("Warning: Skipping '%s' on %s: symbolic link to a directory being synchronized\n",
            name.c_str(), side);
        noteProblem();
        return false;
      }
      return true;
    case RecordKind::file:
      return true;
  }
  return true;
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
    entered = 1;
  }
  if (isLocal) {
    ListRecord here;
    if (localSide().lookUp(".", here)) {
      openLocalDirectories.emplace_back(here.device, here.inode);
      identified_ = true;
    }
  }
  if (!listDirectory()) {
    reportError(isLocal ? "Error: Can't load local directory file list"
                        : "Error: Can't load server directory file list");
    return 0;
  }
  Entry* recorded = nullptr;
  if (!database.load(isLocal, recorded)) {
    reportError("Warning: Can't load %s database file '%s'", sideName(),
                StateDatabase::fileName(isLocal));
    recorded = nullptr;
  }
  merge(recorded);
  delete recorded;
  cursor = &head;
  return 1;
}

bool SideListing::listDirectory() {
  std::vector<ListRecord> records;
  bool ok = isLocal ? localSide().list(records) : serverSide().list(records);
  setErrorText(!ok);
  if (!ok) return false;
  // Sorting once keeps a listing of n entries at n log n; stable, so that equal
  // names keep the order the side gave them, as one-by-one insertion would.
  std::vector<Entry*> entries;
  entries.reserve(records.size());
  for (const ListRecord& record : records) {
    if (admit(record, isLocal)) entries.push_back(new Entry(record));
    // Only a run killed in the middle of a transfer leaves a temporary copy
    // (the run lock keeps out every other run): nothing else will remove it.
    if (record.name == kTemporaryName && !record.isDirectory()) {
      static_cast<void>(isLocal ? localSide().deleteFile(record.name)
                                : serverSide().deleteFile(record.name));
    }
  }
  std::stable_sort(entries.begin(), entries.end(),
                   [](const Entry* a, const Entry* b) { return compareEntries(a, b) < 0; });
  Entry** tail = &head;
  while (*tail != nullptr) tail = &(*tail)->next;
  for (Entry* entry : entries) {
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
      current->state = New;
      p = &current->next;
    } else if (c == 0) {
      if (!current->isDirectory && current->writeTime > d->writeTime) {
        current->writeTime = d->writeTime;
        current->state = Changed;
      } else {
        current->state = Unchanged;
      }
      p = &current->next;
      d = d->next;
    } else {
      Entry* placeholder = Entry::copyOf(*d);
      placeholder->state = Deleted;
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

void SideListing::close() {
  if (head != nullptr) {
    if (!lostInTree) database.save(head, isLocal);
    delete head;
    head = nullptr;
  }
  if (entered) {
    // After a failed return somewhere below, ".." would lead somewhere else.
    if (!lostInTree) {
      bool ok = isLocal ? localSide().changeDirectory("..") : serverSide().changeDirectory("..");
      setErrorText(!ok);
    }
    entered = 0;
  }
  if (identified_) {
    openLocalDirectories.pop_back();
    identified_ = false;
  }
  cursor = nullptr;
}

}  // namespace tandrel
