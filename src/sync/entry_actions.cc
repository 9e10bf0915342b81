#include "sync/entry_actions.h"

#include <memory>
#include <string>

#include "console/interrupt.h"
#include "console/output.h"
#include "console/prompts.h"
#include "state/run_state.h"
#include "storage/transfer.h"
#include "sync/tree_removal.h"
#include "sync/upload_batch.h"

namespace tandrel {

namespace {

constexpr int kRefreshAttempts = 10;

// Records `outcome` on both entries of an action.
void commitBoth(Entry* first, Entry* second, Outcome outcome) {
  const bool ok = outcome == Outcome::done;
  commitEntry(first, ok);
  commitEntry(second, ok);
}

// Reports a failed storage operation and why: `what` has the side and then
// the name at its two %s.
Outcome failedOn(const SideListing& side, const Status& why, const char* what,
                 const std::string& name) {
  side.run.report.error(why, what, side.sideName(), name.c_str());
  return Outcome::failed;
}

}  // namespace

bool refreshTime(Run& run, Entry& entry, bool isLocal) {
  ListRecord record;
  if (isLocal) {
    Status found = run.local.lookUp(entry.name, record);
    if (found.ok()) entry.setTimeFrom(record);
    return found.ok();
  }
  for (int attempt = 0; attempt < kRefreshAttempts; ++attempt) {
    Status found = run.server.lookUp(entry.name, record);
    if (found.ok()) {
      entry.setTimeFrom(record);
      return true;
    }
  }
  return false;
}

Outcome createFrom(Run& run, SideListing& side, UploadBatch& uploads, Entry* existing,
                   Entry* source) {
  out("Creating file '%s' on %s\n", source->name.c_str(), side.sideName());
  std::unique_ptr<Entry> created = Entry::copyOf(*source);
  created->state = EntryState::New;
  created->touched = true;
  const Outcome outcome =
      updateFile(run, side, uploads, created.get(), source, Confirm::no, Announce::no);
  if (outcome == Outcome::done) {
    if (!side.isLocal) uploads.setPlaceholderOfLast(existing);
    side.insertAtCursor(std::move(created));
  }
  commitEntry(existing, outcome == Outcome::done);
  return outcome;
}

namespace {

// The transfer of updateFile, once it is agreed on.
Outcome transfer(Run& run, SideListing& side, UploadBatch& uploads, Entry* target, Entry* source,
                 bool& targetGone) {
  // Both copies carry the same name. The source is recorded as the listing
  // showed it: a change during the transfer fails it, and a change after it
  // is seen by the next run.
  const ListedSource listed{source->listedTime, source->size};
  int64_t sent = 0;
  Status copied = side.isLocal
                      ? getFile(run.local, run.server, source->name, listed)
                      : putFile(run.local, run.server, source->name, listed, sent, targetGone);
  if (!copied.ok()) {
    // A transfer cut short by Ctrl+C is not a failure to report: the run
    // says it was interrupted, and the file comes back next run.
    if (!interruptRequested()) {
      failedOn(side, copied, "Error: Can't update %s file '%s'", target->name);
    }
    return Outcome::failed;
  }
  if (side.isLocal) {
    refreshTime(run, *target, true);
    source->writeTime = source->listedTime;
  } else {
    uploads.add(target, source, sent);
  }
  return Outcome::done;
}

}  // namespace

Outcome updateFile(Run& run, SideListing& side, UploadBatch& uploads, Entry* target, Entry* source,
                   Confirm confirm, Announce announce) {
  const char* question =
      target->state == EntryState::New
          ? "File '%s' exists on %s, do you want to overwrite? Y(es)/N(o)/A(lways):"
          : "File '%s' on %s is changed, do you want to overwrite? Y(es)/N(o)/A(lways):";
  Outcome outcome = Outcome::declined;
  bool targetGone = false;
  if (confirm == Confirm::no ||
      askYesNoAlways(question, target->name.c_str(), run.always.overwrite, side.sideName())) {
    if (announce == Announce::line) {
      out("Updating file '%s' on %s\n", target->name.c_str(), side.sideName());
    }
    outcome = transfer(run, side, uploads, target, source, targetGone);
  }
  commitBoth(target, source, outcome);
  if (targetGone) forgetServerCopy(*target);
  return outcome;
}

Outcome deleteFile(Run& run, SideListing& side, Entry* target, Entry* counterpart,
                   Confirm confirm) {
  const bool unchanged = target->state == EntryState::Unchanged;
  Outcome outcome = Outcome::declined;
  if (confirm == Confirm::no ||
      askYesNoAlways(unchanged ? "Do you want to delete '%s' on %s ? Y(es)/N(o)/A(lways):"
                               : "File '%s' is new or updated on %s, do you still want to delete? "
                                 "Y(es)/N(o)/A(lways):",
                     target->name.c_str(),
                     unchanged ? run.always.deleteUnchangedFile : run.always.deleteUpdatedFile,
                     side.sideName())) {
    out("Deleting file '%s' on %s\n", target->name.c_str(), side.sideName());
    const Status deleted = run.side(side.isLocal).deleteFile(target->name);
    const bool ok = deleted.ok();
    if (ok) target->state = EntryState::Dropped;
    outcome = ok ? Outcome::done
                 : failedOn(side, deleted, "Error: Can't delete %s file '%s'", target->name);
  }
  commitBoth(target, counterpart, outcome);
  return outcome;
}

Outcome createDirectory(Run& run, SideListing& side, Entry* existing, Entry* source,
                        Confirm confirm) {
  Outcome outcome = Outcome::declined;
  if (confirm == Confirm::no ||
      askYesNoAlways(side.isLocal ? "Local directory '%s' does not exists, do you want to "
                                    "create? Y(es)/N(o)/A(lways):"
                                  : "Server directory '%s' does not exists, do you want to "
                                    "create? Y(es)/N(o)/A(lways):",
                     source->name.c_str(), run.always.createDirectory)) {
    const Status created = run.side(side.isLocal).createDirectory(source->name);
    const bool ok = created.ok();
    if (ok) {
      if (existing == nullptr) {
        existing = side.insertAtCursor(Entry::copyOf(*source));
      }
      existing->state = EntryState::New;
      existing->touched = true;
    }
    outcome = ok ? Outcome::done
                 : failedOn(side, created, "Error: Can't create %s directory '%s'", source->name);
  }
  commitBoth(existing, source, outcome);
  return outcome;
}

namespace {

// Files in the tree that are new or changed since the last run stay, and the
// directory is then new here and goes to the other side again. Returns done
// when nothing was kept and the deletion goes ahead as usual.
Outcome keepUnseenChanges(Run& run, SideListing& side, Entry* target) {
  int kept = 0;
  // A tree that could not be looked through is not removed either.
  Status looked = keepChangedFiles(run, side.isLocal, target->name, target->name, false, kept);
  if (looked.ok() && kept > 0) {
    looked = keepChangedFiles(run, side.isLocal, target->name, target->name, true, kept);
  }
  if (!looked.ok()) {
    return failedOn(side, looked, "Error: Can't delete %s directory '%s'", target->name);
  }
  return kept > 0 ? Outcome::recreate : Outcome::done;
}

// Removes the tree of deleteDirectory once it is agreed on.
Outcome removeTree(Run& run, SideListing& side, Entry* target) {
  out("Deleting directory '%s' on %s\n", target->name.c_str(), side.sideName());
  // A server link to a directory goes as a link; what it points to stays.
  const Status removed = side.isLocal     ? removeLocalTree(run, target->name)
                         : target->isLink ? run.server.deleteFile(target->name)
                                          : removeServerTree(run, target->name);
  if (!removed.ok()) {
    return failedOn(side, removed, "Error: Can't delete %s directory '%s'", target->name);
  }
  target->state = EntryState::Dropped;
  return Outcome::done;
}

}  // namespace

Outcome deleteDirectory(Run& run, SideListing& side, Entry* target, Entry* counterpart,
                        Confirm confirm, KeepNewFiles keep) {
  const char* const question =
      "Do you want to delete directory '%s' on %s?\n"
      "Y(es)/N(o)/A(lways delete)/R(ecreate on '%s')/(always re)C(reate):";
  const DirectoryChoice choice =
      confirm == Confirm::no
          ? DirectoryChoice::remove
          : askDeleteDirectory(question, target->name.c_str(), run.always.deleteDirectory,
                               run.always.recreateDirectory, side.sideName(), side.otherSideName());
  if (choice == DirectoryChoice::recreate) return Outcome::recreate;
  Outcome outcome = Outcome::declined;
  if (choice == DirectoryChoice::remove) {
    outcome = keep == KeepNewFiles::yes ? keepUnseenChanges(run, side, target) : Outcome::done;
  }
  if (outcome == Outcome::recreate) return outcome;
  if (outcome == Outcome::done) outcome = removeTree(run, side, target);
  commitBoth(target, counterpart, outcome);
  return outcome;
}

Outcome purgeForRecreate(Run& run, SideListing&, Entry* target, Entry* counterpart) {
  if (purgeServerDatabases(run, target->name).ok()) return Outcome::done;
  commitBoth(target, counterpart, Outcome::failed);
  return Outcome::failed;
}

}  // namespace tandrel
