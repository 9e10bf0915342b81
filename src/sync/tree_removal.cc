#include "sync/tree_removal.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "state/run_state.h"
#include "console/error_text.h"
#include "storage/reserved_names.h"
#include "storage/sides.h"

namespace tandrel {

namespace {
// Directories the purge is inside, by device and inode, so that a symbolic link
// back up the tree cannot make it go round for ever.
std::vector<std::pair<uint64_t, uint64_t>> purgePath;
}  // namespace

int removeLocalTree(const std::string& name) {
  LocalSide& local = localSide();
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
                               std::make_pair(record.device, record.inode)) != purgePath.end();
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
