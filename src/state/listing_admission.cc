#include "state/listing_admission.h"

#include <algorithm>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "console/output.h"
#include "state/run_state.h"
#include "storage/reserved_names.h"

namespace tandrel {

namespace {

// A second way into one local directory (a link into the tree, or two links to
// one directory) would share its state files: what one way records, the other
// would take for deletions on the server. Only the first way is followed.
bool isSecondWayIn(Run& run, const ListRecord& record) {
  const auto target = std::make_pair(record.device, record.inode);
  const auto& open = run.openLocalDirectories;
  if (std::find(open.begin(), open.end(), target) != open.end()) return true;
  if (!open.empty() &&
      run.local.directoryLiesWithin(record.name, open.front().first, open.front().second)) {
    return true;
  }
  auto& linked = run.linkedLocalDirectories;
  if (std::find(linked.begin(), linked.end(), target) != linked.end()) return true;
  linked.push_back(target);
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

// A record that does not name an entry of this directory at all.
Admission admitMisread(Run& run, const ListRecord& record, const char* side) {
  if (record.kind == RecordKind::unreadable) {
    out("Warning: Can't read the server's listing line '%s'\n", shownSafely(record.name).c_str());
  } else {
    out("Warning: Skipping '%s' on %s: the name leads out of the directory\n",
        shownSafely(record.name).c_str(), side);
  }
  run.report.noteProblem();
  return Admission::unreadable;
}

Admission admitDirectory(Run& run, const ListRecord& record, bool isLocal, const char* side) {
  // A server directory that leads back up is a link the server may not
  // show as one.
  if (run.settings.recursive &&
      (isLocal ? record.isLink && isSecondWayIn(run, record) : record.loop)) {
    out("Warning: Skipping '%s' on %s: symbolic link to a directory being synchronized\n",
        record.name.c_str(), side);
    run.report.noteProblem();
    return Admission::skipped;
  }
  return Admission::entry;
}

Admission admitFile(Run& run, const ListRecord& record, bool isLocal) {
  if (!isLocal && record.timeShown == TimeShown::none) {
    if (!run.warnedNoWriteTimes) {
      run.warnedNoWriteTimes = true;
      out("Warning: The server gives no write times: changes of its files can't be seen\n");
      run.report.noteProblem();
    }
  }
  return Admission::entry;
}

// Whether a listed record becomes an entry. Says why when it does not and the
// user should know.
Admission admit(Run& run, const ListRecord& record, bool isLocal) {
  const std::string& name = record.name;
  const char* side = isLocal ? "local" : "server";
  if (record.kind == RecordKind::unreadable || record.kind == RecordKind::leadsOut) {
    return admitMisread(run, record, side);
  }
  if (name == "." || name == ".." || isReservedName(name)) return Admission::ignored;
  if (isUnsafeName(name)) {
    // Printed with its line breaks spelled out, so the terminal shows it whole.
    out("Error: Skipping '%s' on %s: its name holds a line break\n", shownSafely(name).c_str(),
        side);
    run.report.noteProblem();
    return Admission::skipped;
  }
  switch (record.kind) {
    case RecordKind::special:
      out("Warning: Skipping '%s' on %s: not a regular file or directory\n", name.c_str(), side);
      run.report.noteProblem();
      return Admission::skipped;
    case RecordKind::danglingLink:
      out("Warning: Skipping '%s' on %s: symbolic link to nothing\n", name.c_str(), side);
      run.report.noteProblem();
      return Admission::skipped;
    case RecordKind::directory:
      return admitDirectory(run, record, isLocal, side);
    default:
      return admitFile(run, record, isLocal);
  }
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

// Of one name and kind, a skipped marker wins over everything else listed.
EntryList keepMarkers(EntryList sorted) {
  EntryList kept;
  kept.reserve(sorted.size());
  for (size_t i = 0; i < sorted.size();) {
    size_t end = i + 1;
    while (end < sorted.size() && compareEntries(sorted[i].get(), sorted[end].get()) == 0) ++end;
    const Entry* marker = nullptr;
    for (size_t j = i; j < end && !marker; ++j) {
      if (sorted[j]->skipped) marker = sorted[j].get();
    }
    for (size_t j = i; j < end; ++j) {
      if (marker == nullptr || sorted[j].get() == marker) kept.push_back(std::move(sorted[j]));
    }
    i = end;
  }
  return kept;
}

}  // namespace

EntryList admitListed(Run& run, const std::vector<ListRecord>& records, bool isLocal,
                      bool& unreadLines) {
  EntryList entries;
  std::vector<std::string> skippedNames;
  entries.reserve(records.size());
  for (const ListRecord& record : records) {
    switch (admit(run, record, isLocal)) {
      case Admission::entry: entries.push_back(std::make_unique<Entry>(record)); break;
      case Admission::ignored: break;
      case Admission::skipped: skippedNames.push_back(record.name); break;
      case Admission::unreadable:
        unreadLines = true;
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
  // Sorting once keeps a listing of n entries at n log n; stable, so that equal
  // names keep the order the side gave them, as one-by-one insertion would.
  std::stable_sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
    return compareEntries(a.get(), b.get()) < 0;
  });
  return keepMarkers(std::move(entries));
}

void enterLocalDirectory(Run& run, uint64_t device, uint64_t inode) {
  run.openLocalDirectories.emplace_back(device, inode);
}

void leaveLocalDirectory(Run& run) { run.openLocalDirectories.pop_back(); }

}  // namespace tandrel
