#include "sync/tree_removal.h"

#include <algorithm>
#include <unordered_map>
#include <utility>
#include <vector>

#include "console/error_text.h"
#include "console/output.h"
#include "state/run_state.h"
#include "state/state_database.h"
#include "storage/reserved_names.h"

namespace tandrel {

namespace {

// Whether the local `name` is a link. Asked again at the moment of deleting: a
// directory reached through a link goes as a link, and what it leads to
// (outside the tree, or shared with another way in) stays.
bool isLocalLink(LocalSide& local, const std::string& name) {
  ListRecord self;
  return local.lookUp(name, self) && self.isLink;
}

}  // namespace

int removeLocalTree(Run& run, const std::string& name) {
  LocalSide& local = run.local;
  if (isLocalLink(local, name)) {
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
      ok = removeLocalTree(run, record.name) != 0;
    } else {
      ok = local.deleteFile(record.name);
    }
  }
  setErrorText(!ok);
  if (!run.lostInTree && !local.changeDirectory("..")) run.lostInTree = true;
  if (!ok) return 0;
  ok = local.removeDirectory(name);
  setErrorText(!ok);
  return ok ? 1 : 0;
}

int removeServerTree(Run& run, const std::string& name) {
  ServerSide& server = run.server;
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
      ok = removeServerTree(run, *it) != 0;
    }
    setErrorText(!ok);
  }
  if (!run.lostInTree && !server.changeDirectory("..")) run.lostInTree = true;
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

// The files the local database of the working directory records. The server
// tree's records lived in the local directory that is gone, so every server
// file counts as new.
RecordedFiles recordedHere(LocalSide& local) {
  Entry* recorded = nullptr;
  if (!StateDatabase().load(local, true, recorded)) recorded = nullptr;
  RecordedFiles files;
  for (const Entry* e = recorded; e != nullptr; e = e->next) {
    if (!e->isDirectory) files.emplace(e->name, e->writeTime);
  }
  delete recorded;
  return files;
}

}  // namespace

int keepChangedFiles(Run& run, bool isLocal, const std::string& name, const std::string& path,
                     bool act, int& kept) {
  if (run.lostInTree) return 0;
  LocalSide& local = run.local;
  Side& side = run.side(isLocal);
  if (isLocal && isLocalLink(local, name)) {
    // Removing a link deletes nothing it leads to, so nothing in there needs keeping.
    bool ok = !act || local.deleteFile(name);
    setErrorText(!ok);
    return ok ? 1 : 0;
  }
  bool ok = side.changeDirectory(name);
  setErrorText(!ok);
  if (!ok) return 0;
  const RecordedFiles recordedFiles = isLocal ? recordedHere(local) : RecordedFiles();
  std::vector<ListRecord> records;
  ok = side.list(records);
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
      ok = keepChangedFiles(run, isLocal, record.name, path + "/" + record.name, act, kept) != 0;
    } else if (bool changed;
               !record.isDirectory() && newSinceLastRun(record, recordedFiles, changed)) {
      ++kept;
      if (!act) {
        out("Warning: Keeping '%s/%s', %s since the last run\n", path.c_str(),
            record.name.c_str(), changed ? "changed" : "new");
        noteProblem();
      }
    } else if (act) {
      ok = side.deleteFile(record.name);
    }
  }
  const bool empties = kept == keptBefore;
  // A directory that keeps something keeps its state files too; the run
  // brings them up to date when it synchronises the directory.
  for (size_t i = 0; ok && act && empties && i < reserved.size(); ++i) {
    ok = side.deleteFile(reserved[i]);
  }
  setErrorText(!ok);
  if (!run.lostInTree && !side.changeDirectory("..")) run.lostInTree = true;
  if (!ok) return 0;
  if (act && empties) {
    ok = side.removeDirectory(name);
    setErrorText(!ok);
  }
  return ok ? 1 : 0;
}

namespace {

// Directories the purge is inside, by device and inode, so that a symbolic link
// back up the tree cannot make it go round for ever.
using PurgePath = std::vector<std::pair<uint64_t, uint64_t>>;

int purgeBelow(Run& run, const std::string& name, PurgePath& purgePath) {
  LocalSide& local = run.local;
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
      bool looping =
          std::find(purgePath.begin(), purgePath.end(),
                    std::make_pair(record.device, record.inode)) != purgePath.end() ||
          (record.isLink && run.localStartInode != 0 &&
           local.directoryLiesWithin(record.name, run.localStartDevice, run.localStartInode));
      if (!looping) ok = purgeBelow(run, record.name, purgePath) != 0;
    }
  }
  setErrorText(!ok);
  if (identified) purgePath.pop_back();
  bool returned = local.changeDirectory("..");
  setErrorText(!returned);
  if (!returned) {
    run.lostInTree = true;
    reportError("Can't recursively delete server databases for '%s' directory on local",
                name.c_str());
    return 0;
  }
  return ok ? 1 : 0;
}

}  // namespace

int purgeServerDatabases(Run& run, const std::string& name) {
  PurgePath purgePath;
  return purgeBelow(run, name, purgePath);
}

}  // namespace tandrel
