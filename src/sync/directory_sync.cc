#include "sync/directory_sync.h"

#include "state/save_together.h"
#include "console/interrupt.h"
#include "console/output.h"
#include "state/record_place.h"
#include "sync/entry_actions.h"
#include "sync/plan.h"
#include "sync/tree_removal.h"

namespace tandrel {

namespace {

// How the emptied-side rule counts `listing`.
SideCounts countsOf(const SideListing& listing) {
  SideCounts counts;
  for (const Entry& entry : listing.entries()) {
    if (entry.state == EntryState::Deleted) {
      ++counts.gone;
    } else {
      ++counts.listed;
    }
  }
  return counts;
}

}  // namespace

bool DirectorySync::run() {
  if (!name.empty()) out("Synchronizing directory '%s'...\n", name.c_str());
  if (ListRecord start; name.empty() && run_.local.lookUp(".", start).ok()) {
    run_.localStartDevice = start.device;
    run_.localStartInode = start.inode;
  }
  // The server is still in the parent: the path it is about to enter.
  const std::string serverHere = run_.server.currentDirectory();
  local.place.path = place;
  local.place.server = name.empty() ? serverHere : placeBelow(serverHere, name);
  local.parentVouches = parentVouches;
  bool ok = local.open(name);
  server.recordsIgnored = local.recordsIgnored;
  ok = ok && server.open(name);
  if (ok && (refusesEmptied(local, server) || refusesEmptied(server, local))) {
    // Nothing is walked, so nothing is touched and both records stay as they are.
  } else if (ok) {
    Entry* l = local.first(EntryKind::files);
    Entry* s = server.first(EntryKind::files);
    while ((l || s) && !interruptRequested()) fileStep(l, s);
    uploads_.complete(run_);
    l = local.first(EntryKind::directories);
    s = server.first(EntryKind::directories);
    while (ok && (l || s)) {
      if (interruptRequested()) break;
      directoryStep(l, s);
      if (stopRequested()) ok = false;
    }
  }
  if (interruptRequested()) {
    // Every pair the walk reaches records its outcome; an entry new since the
    // last run that the walk did not reach must not be recorded as if it had
    // been synchronised, or the next run would take it for an old one.
    forgetUnreached(local);
    forgetUnreached(server);
  }
  // Both records before either side leaves: a run that is lost on the way
  // back has recorded everything it did here.
  saveTogether(local, server);
  server.close();
  local.close();
  return ok;
}

void DirectorySync::forgetUnreached(SideListing& listing) {
  for (Entry& entry : listing.entries()) {
    if (entry.state == EntryState::New && !entry.touched) entry.state = EntryState::Dropped;
  }
}

bool DirectorySync::refusesEmptied(const SideListing& empty, const SideListing& other) const {
  const SideCounts counts = countsOf(empty);
  if (!refusesEmptiedSide(counts, countsOf(other), policyOf(run_))) return false;
  out("Warning: Directory '%s' is empty on %s, where %d entries were recorded: nothing is "
      "deleted on %s in this run; run once without -y to confirm the deletions\n",
      name.empty() ? "." : name.c_str(), empty.sideName(), counts.gone, other.sideName());
  run_.report.noteProblem();
  return true;
}

bool DirectorySync::stopRequested() {
  if (!run_.lostInTree) return false;
  if (!run_.abortReported) {
    run_.abortReported = true;
    out("\nABORTING: Lost in directory tree :(\n");
    run_.report.noteProblem();
  }
  return true;
}

void DirectorySync::fileStep(Entry*& l, Entry*& s) {
  const int c = compareEntries(l, s);
  Entry* const localEntry = c <= 0 ? l : nullptr;
  Entry* const serverEntry = c >= 0 ? s : nullptr;
  // A copy goes to a name that is absent or only recorded as a new file, and
  // over an unchanged one as an update without a question.
  auto copy = [this](SideListing& to, Entry* target, Entry* source) {
    if (target == nullptr || target->state == EntryState::Deleted) {
      createFrom(run_, to, uploads_, target, source);
    } else {
      updateFile(run_, to, uploads_, target, source, Confirm::no, Announce::line);
    }
  };
  const FilePlan plan = decide(filePairOf(localEntry, serverEntry), policyOf(run_));
  switch (plan.action) {
    case FileAction::leave:
      break;
    case FileAction::forget:
      commitEntry(localEntry, true);
      commitEntry(serverEntry, true);
      break;
    case FileAction::leaveSkipped:
      // The skipped entry keeps its record; the other one is recorded as after
      // a declined action, so the next run sees it again.
      commitEntry(localEntry, false);
      commitEntry(serverEntry, false);
      break;
    case FileAction::copyToLocal:
      copy(local, localEntry, serverEntry);
      break;
    case FileAction::copyToServer:
      copy(server, serverEntry, localEntry);
      break;
    case FileAction::overwriteLocal:
      updateFile(run_, local, uploads_, localEntry, serverEntry, plan.confirm, Announce::line);
      break;
    case FileAction::overwriteServer:
      updateFile(run_, server, uploads_, serverEntry, localEntry, plan.confirm, Announce::line);
      break;
    case FileAction::deleteLocal:
      deleteFile(run_, local, localEntry, serverEntry, plan.confirm);
      break;
    case FileAction::deleteServer:
      deleteFile(run_, server, serverEntry, localEntry, plan.confirm);
      break;
  }
  if (localEntry) l = local.next(EntryKind::files);
  if (serverEntry) s = server.next(EntryKind::files);
}

const std::string* DirectorySync::carryOut(const DirectoryPlan& plan, Entry* l, Entry* s) {
  // A deleted tree that goes back where it was deleted: the local copy first
  // loses the server records it holds, which belong to the tree that is gone.
  auto toServer = [&] {
    return purgeForRecreate(run_, local, l, s) == Outcome::done &&
           createDirectory(run_, server, s, l, Confirm::no) == Outcome::done;
  };
  auto toLocal = [&] { return createDirectory(run_, local, l, s, Confirm::no) == Outcome::done; };
  switch (plan.action) {
    case DirectoryAction::leave:
      return nullptr;
    case DirectoryAction::forget:
      commitEntry(l, true);
      commitEntry(s, true);
      return nullptr;
    case DirectoryAction::leaveSkipped:
    case DirectoryAction::leaveUnentered:
      commitEntry(l, false);
      commitEntry(s, false);
      return nullptr;
    case DirectoryAction::enter:
      return &l->name;
    case DirectoryAction::createOnLocal:
      return createDirectory(run_, local, nullptr, s, plan.confirm) == Outcome::done ? &s->name
                                                                                     : nullptr;
    case DirectoryAction::createOnServer:
      return createDirectory(run_, server, nullptr, l, plan.confirm) == Outcome::done ? &l->name
                                                                                      : nullptr;
    case DirectoryAction::deleteOnLocal:
      return deleteDirectory(run_, local, l, s, plan.confirm, plan.keep) == Outcome::recreate &&
                     toServer()
                 ? &l->name
                 : nullptr;
    case DirectoryAction::deleteOnServer:
      return deleteDirectory(run_, server, s, l, plan.confirm, plan.keep) == Outcome::recreate &&
                     toLocal()
                 ? &s->name
                 : nullptr;
    case DirectoryAction::recreateOnServer:
      return toServer() ? &l->name : nullptr;
    case DirectoryAction::recreateOnLocal:
      return toLocal() ? &s->name : nullptr;
  }
  return nullptr;
}

void DirectorySync::directoryStep(Entry*& l, Entry*& s) {
  int c = compareEntries(l, s);
  // Records below a directory this directory's records do not know were
  // written somewhere else, unless a place file says otherwise.
  const bool vouches = !local.hadRecords || (c <= 0 && l->state != EntryState::New);
  Entry* const localEntry = c <= 0 ? l : nullptr;
  Entry* const serverEntry = c >= 0 ? s : nullptr;
  const std::string* sub = carryOut(
      decide(directoryPairOf(localEntry, serverEntry), policyOf(run_)), localEntry, serverEntry);
  // The name must outlive the cursor moves: the entries stay in their lists.
  std::string subdirectory = sub ? *sub : std::string();
  if (c <= 0) l = local.next(EntryKind::directories);
  if (c >= 0) s = server.next(EntryKind::directories);
  if (sub) {
    DirectorySync child(run_, subdirectory, placeBelow(place, subdirectory));
    child.parentVouches = vouches;
    child.run();
  }
}

}  // namespace tandrel
