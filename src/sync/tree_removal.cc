#include "sync/tree_removal.h"

#include <algorithm>
#include <unordered_map>
#include <utility>
#include <vector>

#include "state/run_state.h"
#include "console/error_text.h"
#include "console/output.h"
#include "state/state_database.h"
#include "storage/reserved_names.h"
#include "storage/sides.h"

namespace tandrel {

namespace {
// Directories the purge is inside, by device and inode, so that a symbolic link
// back up the tree cannot make it go round for ever.
std::vector<std::pair<uint64_t, uint64_t>> purgePath;
// The local start directory: a link back into the tree is not followed by the
// walk, so the purge must not follow it either and forget another directory's records.
std::pair<uint64_t, uint64_t> localStart{0, 0};

// Whether the local `name` is a link. Asked again at the moment of deleting: a
// directory reached through a link goes as a link, and what it leads to
// (outside the tree, or shared with another way in) stays.
bool isLocalLink(const std::string& name) {
  ListRecord self;
  return localSide().lookUp(name, self) && self.isLink;
}

}  // namespace

void setLocalStart(uint64_t device, uint64_t inode) { localStart = {device, inode}; }

int removeLocalTree(const std::string& name) {
  LocalSide& local = localSide();
  if (isLocalLink(name)) {
    bool removed = local.deleteFile(name);
    setErrorText(!removed);
    return removed ? 1 : 0;
  }
  bool ok = local.changeDirectory(name);
  setErrorText(!ok);
  if (!ok) return 0;
  std::vector<ListRecord> records;
  ok = local.list(records);
  for (size_t i = 0; ok && i < records.size(); ++i) {
    const ListRecord& record = records[i];
    if (record.isDirectory() && !record.isLink) {
      ok = removeLocalTree(record.name) != 0;
    } else {
      ok = local.deleteFile(record.name);
    }
  }
  setErrorText(!ok);
  if (!lostInTree && !local.changeDirectory("..")) lostInTree = 1;
  if (!ok) return 0;
  ok = local.removeDirectory(name);
  setErrorText(!ok);
  return ok ? 1 : 0;
}

int removeServerTree(const std::string& name) {
  ServerSide& server = serverSide();
  // A link the server lists as a directory goes as a link: walking it would
  // delete what it leads to, outside the tree, and then fail on the RMD.
  if (server.removeIfLink(name)) return 1;
  bool ok = server.changeDirectory(name);
  setErrorText(!ok);
  if (!ok) return 0;
  std::vector<ListRecord> records;
  ok = server.list(records);
  std::vector<std::string> pending;
  for (size_t i = 0; ok && i < records.size(); ++i) {
    // A link is deleted as itself, never followed.
    if (records[i].isDirectory() && !records[i].isLink) {
      pending.push_back(records[i].name);
    } else {
      ok = server.deleteFile(records[i].name);
    }
  }
  setErrorText(!ok);
  if (ok) {
    // Last listed first, once this directory's listing is done with.
    for (auto it = pending.rbegin(); ok && it != pending.rend(); ++it) {
      ok = removeServerTree(*it) != 0;
    }
    setErrorText(!ok);
  }
  if (!lostInTree && !server.changeDirectory("..")) lostInTree = 1;
  if (!ok) return 0;
  ok = server.removeDirectory(name);
  setErrorText(!ok);
  return ok ? 1 : 0;
}

namespace {

// The recorded write time of each file of a directory, by name.
using RecordedFiles = std::unordered_map<std::string, FileTime>;

// Whether a local file is new or changed against its directory's records.
bool newSinceLastRun(const ListRecord& record, const RecordedFiles& recorded, bool& changed) {
  auto found = recorded.find(record.name);
  changed = found != recorded.end() && record.writeTime > found->second;
  return found == recorded.end() || changed;
}

}  // namespace

int keepChangedFiles(bool isLocal, const std::string& name, const std::string& path, bool act,
                     int& kept) {
  if (lostInTree) return 0;
  LocalSide& local = localSide();
  ServerSide& server = serverSide();
  if (isLocal && isLocalLink(name)) {
    // Removing a link deletes nothing it leads to, so nothing in there needs keeping.
    bool ok = !act || local.deleteFile(name);
    setErrorText(!ok);
    return ok ? 1 : 0;
  }
  bool ok = isLocal ? local.changeDirectory(name) : server.changeDirectory(name);
  setErrorText(!ok);
  if (!ok) return 0;
  // The server tree's records lived in the local directory that is gone, so
  // every server file counts as new.
  const EntryList recorded = isLocal ? loadDatabase(true).value_or(EntryList()) : EntryList();
  std::vector<ListRecord> records;
  ok = isLocal ? local.list(records) : server.list(records);
  RecordedFiles recordedFiles;
  for (const auto& e : recorded) {
    if (!e->isDirectory) recordedFiles.emplace(e->name, e->writeTime);
  }
  // In name order, so that the warnings read the same on every run.
  std::sort(records.begin(), records.end(),
            [](const ListRecord& a, const ListRecord& b) { return a.name < b.name; });
  const int keptBefore = kept;
  std::vector<std::string> reserved;
  for (size_t i = 0; ok && i < records.size(); ++i) {
    const ListRecord& record = records[i];
    if (isReservedName(record.name)) {
      reserved.push_back(record.name);
    } else if (record.isDirectory() && !record.isLink) {
      ok = keepChangedFiles(isLocal, record.name, path + "/" + record.name, act, kept) != 0;
    } else if (bool changed;
               !record.isDirectory() && newSinceLastRun(record, recordedFiles, changed)) {
      ++kept;
      if (!act) {
        out("Warning: Keeping '%s/%s', %s since the last run\n", path.c_str(),
            record.name.c_str(), changed ? "changed" : "new");
        noteProblem();
      }
    } else if (act) {
      ok = isLocal ? local.deleteFile(record.name) : server.deleteFile(record.name);
    }
  }
  const bool empties = kept == keptBefore;
  // A directory that keeps something keeps its state files too; the run
  // brings them up to date when it synchronises the directory.
  for (size_t i = 0; ok && act && empties && i < reserved.size(); ++i) {
    ok = isLocal ? local.deleteFile(reserved[i]) : server.deleteFile(reserved[i]);
  }
  setErrorText(!ok);
  if (!lostInTree && !(isLocal ? local.changeDirectory("..") : server.changeDirectory(".."))) {
    lostInTree = 1;
  }
  if (!ok) return 0;
  if (act && empties) {
    ok = isLocal ? local.removeDirectory(name) : server.removeDirectory(name);
    setErrorText(!ok);
  }
  return ok ? 1 : 0;
}

int purgeServerDatabases(const std::string& name) {
  LocalSide& local = localSide();
  bool ok = local.changeDirectory(name);
  setErrorText(!ok);
  if (!ok) {
    reportError("Can't open '%s' dir on local to recursively delete server databases",
                name.c_str());
    return 0;
  }
  ListRecord here;
  bool identified = local.lookUp(".", here);
  if (identified) purgePath.emplace_back(here.device, here.inode);
  std::vector<ListRecord> records;
  ok = local.list(records);
  for (size_t i = 0; ok && i < records.size(); ++i) {
    const ListRecord& record = records[i];
    if (record.name == kServerDatabaseName) {
      ok = local.deleteFile(record.name);
    } else if (record.isDirectory()) {
      bool looping = std::find(purgePath.begin(), purgePath.end(),
                               std::make_pair(record.device, record.inode)) != purgePath.end() ||
                     (record.isLink && localStart.second != 0 &&
                      local.directoryLiesWithin(record.name, localStart.first, localStart.second));
      if (!looping) ok = purgeServerDatabases(record.name) != 0;
    }
  }
  setErrorText(!ok);
  if (identified) purgePath.pop_back();
  bool returned = local.changeDirectory("..");
  setErrorText(!returned);
  if (!returned) {
    lostInTree = 1;
    reportError("Can't recursively delete server databases for '%s' directory on local",
                name.c_str());
    return 0;
  }
  return ok ? 1 : 0;
}

}  // namespace tandrel
