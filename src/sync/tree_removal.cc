#include "sync/tree_removal.h"

#include <algorithm>
#include <unordered_map>
#include <vector>

#include "console/output.h"
#include "state/run_state.h"
#include "state/state_database.h"
#include "storage/reserved_names.h"
#include "sync/tree_walk.h"

namespace tandrel {

namespace {

// Whether the local `name` is a link. Asked again at the moment of deleting: a
// directory reached through a link goes as a link, and what it leads to
// (outside the tree, or shared with another way in) stays.
bool isLocalLink(LocalSide& local, const std::string& name) {
  ListRecord self;
  return local.lookUp(name, self).ok() && self.isLink;
}

// Removes a local tree: every entry as the listing gives it, links as links.
class LocalRemoval : public TreeVisitor {
 public:
  explicit LocalRemoval(LocalSide& local) : local_(local) {}

  bool settledOutside(TreeWalk&, const std::string& name, Status& status) override {
    if (!isLocalLink(local_, name)) return false;
    status = local_.deleteFile(name);
    return true;
  }

  Visited visit(TreeWalk& walk) override {
    std::vector<ListRecord> records;
    Status status = local_.list(records);
    for (size_t i = 0; status.ok() && i < records.size(); ++i) {
      status = walk.leadsDown(records[i]) ? walk.walk(records[i].name)
                                          : local_.deleteFile(records[i].name);
    }
    return {status, true};
  }

 private:
  LocalSide& local_;
};

// Removes a server tree: files while the directory is listed, subdirectories
// afterwards, last listed first.
class ServerRemoval : public TreeVisitor {
 public:
  explicit ServerRemoval(ServerSide& server) : server_(server) {}

  // A link the server lists as a directory goes as a link: walking it would
  // delete what it leads to, outside the tree, and then fail on the RMD.
  bool settledOutside(TreeWalk&, const std::string& name, Status& status) override {
    status = Status::OK();
    return server_.removeIfLink(name);
  }

  Visited visit(TreeWalk& walk) override {
    std::vector<ListRecord> records;
    Status status = server_.list(records);
    std::vector<std::string> pending;
    for (size_t i = 0; status.ok() && i < records.size(); ++i) {
      if (walk.leadsDown(records[i])) {
        pending.push_back(records[i].name);
      } else {
        status = server_.deleteFile(records[i].name);
      }
    }
    // Last listed first, once this directory's listing is done with.
    for (auto it = pending.rbegin(); status.ok() && it != pending.rend(); ++it) {
      status = walk.walk(*it);
    }
    return {status, true};
  }

 private:
  ServerSide& server_;
};

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
  RecordedFiles files;
  Status unread;
  for (const auto& e : loadDatabase(local, true, unread).value_or(EntryList())) {
    if (!e->isDirectory) files.emplace(e->name, e->writeTime);
  }
  return files;
}

// keepChangedFiles, one directory at a time.
class ChangedFilesKeeper : public TreeVisitor {
 public:
  ChangedFilesKeeper(Run& run, bool isLocal, const std::string& path, bool act, int& kept)
      : run_(run), isLocal_(isLocal), path_(path), act_(act), kept_(kept) {}

  bool settledOutside(TreeWalk& walk, const std::string& name, Status& status) override {
    if (run_.lostInTree) {
      status = walk.lostBecause();
      return true;
    }
    if (!isLocal_ || !isLocalLink(run_.local, name)) return false;
    // Removing a link deletes nothing it leads to, so nothing in there needs keeping.
    status = act_ ? run_.local.deleteFile(name) : Status::OK();
    return true;
  }

  Visited visit(TreeWalk& walk) override {
    const RecordedFiles recorded = isLocal_ ? recordedHere(run_.local) : RecordedFiles();
    std::vector<ListRecord> records;
    Status status = walk.side().list(records);
    // In name order, so that the warnings read the same on every run.
    std::sort(records.begin(), records.end(),
              [](const ListRecord& a, const ListRecord& b) { return a.name < b.name; });
    const int keptBefore = kept_;
    std::vector<std::string> reserved;
    for (size_t i = 0; status.ok() && i < records.size(); ++i) {
      if (isReservedName(records[i].name)) {
        reserved.push_back(records[i].name);
      } else {
        status = look(walk, records[i], recorded);
      }
    }
    const bool empties = kept_ == keptBefore;
    // A directory that keeps something keeps its state files too; the run
    // brings them up to date when it synchronises the directory.
    for (size_t i = 0; status.ok() && act_ && empties && i < reserved.size(); ++i) {
      status = walk.side().deleteFile(reserved[i]);
    }
    return {status, act_ && empties};
  }

 private:
  // One entry that is not a state file: walked, kept, removed or left.
  Status look(TreeWalk& walk, const ListRecord& record, const RecordedFiles& recorded) {
    if (walk.leadsDown(record)) {
      const std::string parent = path_;
      path_ += "/" + record.name;
      Status status = walk.walk(record.name);
      path_ = parent;
      return status;
    }
    if (bool changed; !record.isDirectory() && newSinceLastRun(record, recorded, changed)) {
      ++kept_;
      if (!act_) {
        out("Warning: Keeping '%s/%s', %s since the last run\n", path_.c_str(), record.name.c_str(),
            changed ? "changed" : "new");
        run_.report.noteProblem();
      }
      return Status::OK();
    }
    return act_ ? walk.side().deleteFile(record.name) : Status::OK();
  }

  Run& run_;
  const bool isLocal_;
  std::string path_;  // the directory being visited, as the warnings name it
  const bool act_;
  int& kept_;
};

// purgeServerDatabases: follows links as the synchronisation does, and prints
// its own messages.
class ServerDatabasePurge : public TreeVisitor {
 public:
  ServerDatabasePurge(LocalSide& local, Reporter& report) : local_(local), report_(report) {}

  bool followsLinks() const override { return true; }
  bool returnsWhenLost() const override { return true; }

  void cannotEnter(const std::string& name, const Status& why) override {
    report_.error(why, "Can't open '%s' dir on local to recursively delete server databases",
                  name.c_str());
  }

  Visited visit(TreeWalk& walk) override {
    std::vector<ListRecord> records;
    Status status = local_.list(records);
    for (size_t i = 0; status.ok() && i < records.size(); ++i) {
      const ListRecord& record = records[i];
      if (record.name == kServerDatabaseName) {
        status = local_.deleteFile(record.name);
      } else if (walk.leadsDown(record)) {
        status = walk.walk(record.name);
      }
    }
    return {status, false};
  }

  bool returned(const std::string& name, const Status& back) override {
    if (!back.ok()) {
      report_.error(back, "Can't recursively delete server databases for '%s' directory on local",
                    name.c_str());
    }
    return back.ok();
  }

 private:
  LocalSide& local_;
  Reporter& report_;
};

}  // namespace

Status removeLocalTree(Run& run, const std::string& name) {
  LocalRemoval removal(run.local);
  return TreeWalk(run, run.local, removal).walk(name);
}

Status removeServerTree(Run& run, const std::string& name) {
  ServerRemoval removal(run.server);
  return TreeWalk(run, run.server, removal).walk(name);
}

Status keepChangedFiles(Run& run, bool isLocal, const std::string& name, const std::string& path,
                        bool act, int& kept) {
  ChangedFilesKeeper keeper(run, isLocal, path, act, kept);
  return TreeWalk(run, run.side(isLocal), keeper).walk(name);
}

Status purgeServerDatabases(Run& run, const std::string& name) {
  ServerDatabasePurge purge(run.local, run.report);
  return TreeWalk(run, run.local, purge).walk(name);
}

}  // namespace tandrel
