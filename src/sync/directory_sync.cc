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

// A pair in which either side holds an entry the run cannot handle is left as
// it is, on both sides: the skipped entry keeps its record, and the other one
// is recorded as after a declined action, so the next run sees it again.
bool leaveSkippedPair(SideListing& local, SideListing& server, Entry*& l, Entry*& s, int kind) {
  const int c = compareEntries(l, s);
  if (!((c <= 0 && l->skipped) || (c >= 0 && s->skipped))) return false;
  if (c <= 0) {
    commitEntry(l, 0);
    l = local.next(kind);
  }
  if (c >= 0) {
    commitEntry(s, 0);
    s = server.next(kind);
  }
  return true;
}

}  // namespace

int DirectorySync::run() {
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
  int ok = local.open(name);
  server.recordsIgnored = local.recordsIgnored;
  ok = ok && server.open(name);
  if (ok && run_.yesSwitch &&
      (emptiedUnattended(local, server) || emptiedUnattended(server, local))) {
    // Nothing is walked, so nothing is touched and both records stay as they are.
  } else if (ok) {
    Entry* l = local.first(0);
    Entry* s = server.first(0);
    while ((l || s) && !interruptRequested()) fileStep(l, s);
    uploads_.complete(run_);
    l = local.first(1);
    s = server.first(1);
    while (ok && (l || s)) {
      if (interruptRequested()) break;
      directoryStep(l, s);
      if (stopRequested()) ok = 0;
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
    if (entry.state == New && !entry.touched) entry.state = Dropped;
  }
}

// An empty listing where several entries were recorded looks the same as a
// person deleting them all, but is more often a reset account, a wrong
// directory or a server that lists a missing directory as empty. Unattended,
// nothing is deleted on the other side until a person has seen it once.
bool DirectorySync::emptiedUnattended(const SideListing& empty, const SideListing& other) const {
  int recorded = 0;
  for (const Entry& entry : empty.entries()) {
    if (entry.state != Deleted) return false;
    ++recorded;
  }
  bool otherHolds = false;
  for (const Entry& entry : other.entries()) {
    if (entry.state != Deleted) otherHolds = true;
  }
  if (recorded < 2 || !otherHolds) return false;
  out("Warning: Directory '%s' is empty on %s, where %d entries were recorded: nothing is "
      "deleted on %s in this run; run once without -y to confirm the deletions\n",
      name.empty() ? "." : name.c_str(), empty.sideName(), recorded, other.sideName());
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
  if (leaveSkippedPair(local, server, l, s, 0)) return;
  const int c = compareEntries(l, s);
  Entry* const localEntry = c <= 0 ? l : nullptr;
  Entry* const serverEntry = c >= 0 ? s : nullptr;
  // A copy goes to a name that is absent or only recorded as a new file, and
  // over an unchanged one as an update without a question.
  auto copy = [this](SideListing& to, Entry* target, Entry* source) {
    if (target == nullptr || target->state == Deleted) {
      createFrom(run_, to, uploads_, target, source);
    } else {
      updateFile(run_, to, uploads_, target, source, Confirm::no, Announce::line);
    }
  };
  switch (decideFile(fileStateOf(localEntry), fileStateOf(serverEntry), run_.settings.ftpWins)) {
    case FileAction::leave:
      break;
    case FileAction::forget:
      commitEntry(localEntry, 1);
      commitEntry(serverEntry, 1);
      break;
    case FileAction::copyToLocal:
      copy(local, localEntry, serverEntry);
      break;
    case FileAction::copyToServer:
      copy(server, serverEntry, localEntry);
      break;
    case FileAction::overwriteLocal:
      updateFile(run_, local, uploads_, localEntry, serverEntry, Confirm::ask, Announce::line);
      break;
    case FileAction::overwriteServer:
      updateFile(run_, server, uploads_, serverEntry, localEntry, Confirm::ask, Announce::line);
      break;
    case FileAction::deleteLocal:
      deleteFile(run_, local, localEntry, serverEntry);
      break;
    case FileAction::deleteServer:
      deleteFile(run_, server, serverEntry, localEntry);
      break;
  }
  if (localEntry) l = local.next(0);
  if (serverEntry) s = server.next(0);
}

const std::string* DirectorySync::carryOut(DirectoryAction action, Entry* l, Entry* s) {
  switch (action) {
    case DirectoryAction::leave:
      return nullptr;
    case DirectoryAction::forget:
      commitEntry(l, 1);
      commitEntry(s, 1);
      return nullptr;
    case DirectoryAction::enter:
      return &l->name;
    case DirectoryAction::createOnLocal:
      return createDirectory(run_, local, nullptr, s, Confirm::ask) == Outcome::done ? &s->name
                                                                                     : nullptr;
    case DirectoryAction::createOnServer:
      return createDirectory(run_, server, nullptr, l, Confirm::ask) == Outcome::done ? &l->name
                                                                                      : nullptr;
    case DirectoryAction::deleteOnLocal:
      return deleteDirectory(run_, local, l, s) == Outcome::recreate &&
                     purgeForRecreate(run_, local, l, s) == Outcome::done &&
                     createDirectory(run_, server, s, l, Confirm::no) == Outcome::done
                 ? &l->name
                 : nullptr;
    case DirectoryAction::deleteOnServer:
      return deleteDirectory(run_, server, s, l) == Outcome::recreate &&
                     createDirectory(run_, local, l, s, Confirm::no) == Outcome::done
                 ? &s->name
                 : nullptr;
  }
  return nullptr;
}

void DirectorySync::directoryStep(Entry*& l, Entry*& s) {
  if (!run_.settings.recursive) {
    commitEntry(l, 0);
    commitEntry(s, 0);
    l = local.next(1);
    s = server.next(1);
    return;
  }
  if (leaveSkippedPair(local, server, l, s, 1)) return;
  int c = compareEntries(l, s);
  // Records below a directory this directory's records do not know were
  // written somewhere else, unless a place file says otherwise.
  const bool vouches = !local.hadRecords || (c <= 0 && l->state != New);
  Entry* const localEntry = c <= 0 ? l : nullptr;
  Entry* const serverEntry = c >= 0 ? s : nullptr;
  const std::string* sub =
      carryOut(decideDirectory(directoryStateOf(localEntry), directoryStateOf(serverEntry)),
               localEntry, serverEntry);
  // The name must outlive the cursor moves: the entries stay in their lists.
  std::string subdirectory = sub ? *sub : std::string();
  if (c == 0) {
    l = local.next(1);
    s = server.next(1);
  } else if (c < 0) {
    l = local.next(1);
  } else {
    s = server.next(1);
  }
  if (sub) {
    DirectorySync child(run_, subdirectory, placeBelow(place, subdirectory));
    child.parentVouches = vouches;
    child.run();
  }
}

}  // namespace tandrel
