#include "sync/plan.h"

namespace tandrel {

namespace {

using enum FileAction;

// Rows: the local state; columns: the server's (unchanged, changed, deleted,
// absent), in the order of FileState. The same table as the README's.
constexpr FileAction kLocalWins[4][4] = {
    /* unchanged */ {leave, copyToLocal, deleteLocal, copyToServer},
    /* changed   */ {copyToServer, overwriteServer, copyToServer, copyToServer},
    /* deleted   */ {deleteServer, deleteServer, forget, forget},
    /* absent    */ {copyToLocal, copyToLocal, forget, leave},
};

// The conflicts, where the server winning changes the outcome.
constexpr FileAction kServerWins[4][4] = {
    /* unchanged */ {leave, copyToLocal, deleteLocal, copyToServer},
    /* changed   */ {copyToServer, overwriteLocal, deleteLocal, copyToServer},
    /* deleted   */ {deleteServer, copyToLocal, forget, forget},
    /* absent    */ {copyToLocal, copyToLocal, forget, leave},
};

using D = DirectoryAction;

// Rows: the local state; columns: the server's (present, deleted, absent).
constexpr DirectoryAction kDirectories[3][3] = {
    /* present */ {D::enter, D::deleteOnLocal, D::createOnServer},
    /* deleted */ {D::deleteOnServer, D::forget, D::forget},
    /* absent  */ {D::createOnLocal, D::forget, D::leave},
};

Confirm askUnless(bool answered) { return answered ? Confirm::no : Confirm::ask; }

// A file deletion asks its own question for a copy that is unchanged and for
// one that is new or changed, and each has its own standing answer.
Confirm deletionConfirm(FileState target, const StandingAnswers& always) {
  return askUnless(target == FileState::unchanged ? always.deleteUnchangedFile
                                                  : always.deleteUpdatedFile);
}

// A directory deleted on the other side: a standing delete answer goes first,
// then a standing recreate answer; otherwise the question. Under -y nobody saw
// the tree, so on the side that wins file conflicts what is new in it stays.
DirectoryPlan deletion(bool onLocal, bool targetIsLink, const Policy& policy) {
  const bool winningSide = onLocal != policy.ftpWins;
  const KeepNewFiles keep = policy.unattended && winningSide && !targetIsLink
                                ? KeepNewFiles::yes
                                : KeepNewFiles::no;
  if (policy.always.deleteDirectory) {
    return {onLocal ? D::deleteOnLocal : D::deleteOnServer, Confirm::no, keep};
  }
  if (policy.always.recreateDirectory) {
    return {onLocal ? D::recreateOnServer : D::recreateOnLocal, Confirm::no, KeepNewFiles::no};
  }
  return {onLocal ? D::deleteOnLocal : D::deleteOnServer, Confirm::ask, keep};
}

}  // namespace

Policy policyOf(const Run& run) {
  return {run.settings.ftpWins, run.settings.recursive, run.yesSwitch, run.always};
}

FileState fileStateOf(const Entry* entry) {
  if (entry == nullptr) return FileState::absent;
  switch (entry->state) {
    case EntryState::Unchanged:
      return FileState::unchanged;
    case EntryState::New:
    case EntryState::Changed:
      return FileState::changed;
    case EntryState::Deleted:
      return FileState::deleted;
    case EntryState::Dropped:
      break;
  }
  return FileState::absent;
}

FilePair filePairOf(const Entry* local, const Entry* server) {
  return {fileStateOf(local), fileStateOf(server),
          (local && local->skipped) || (server && server->skipped)};
}

FilePlan decide(const FilePair& pair, const Policy& policy) {
  if (pair.skipped) return {leaveSkipped, Confirm::no};
  const auto& table = policy.ftpWins ? kServerWins : kLocalWins;
  const FileAction action = table[static_cast<int>(pair.local)][static_cast<int>(pair.server)];
  switch (action) {
    case overwriteLocal:
    case overwriteServer:
      return {action, askUnless(policy.always.overwrite)};
    case deleteLocal:
      return {action, deletionConfirm(pair.local, policy.always)};
    case deleteServer:
      return {action, deletionConfirm(pair.server, policy.always)};
    default:
      return {action, Confirm::no};
  }
}

DirectoryState directoryStateOf(const Entry* entry) {
  if (entry == nullptr || entry->state == EntryState::Dropped) return DirectoryState::absent;
  return entry->state == EntryState::Deleted ? DirectoryState::deleted : DirectoryState::present;
}

DirectoryPair directoryPairOf(const Entry* local, const Entry* server) {
  return {directoryStateOf(local), directoryStateOf(server),
          (local && local->skipped) || (server && server->skipped), local && local->isLink,
          server && server->isLink};
}

DirectoryPlan decide(const DirectoryPair& pair, const Policy& policy) {
  if (!policy.recursive) return {D::leaveUnentered};
  if (pair.skipped) return {D::leaveSkipped};
  const DirectoryAction action =
      kDirectories[static_cast<int>(pair.local)][static_cast<int>(pair.server)];
  switch (action) {
    case D::createOnLocal:
    case D::createOnServer:
      return {action, askUnless(policy.always.createDirectory)};
    case D::deleteOnLocal:
      return deletion(true, pair.localIsLink, policy);
    case D::deleteOnServer:
      return deletion(false, pair.serverIsLink, policy);
    default:
      return {action};
  }
}

bool refusesEmptiedSide(SideCounts empty, SideCounts other, const Policy& policy) {
  return policy.unattended && empty.listed == 0 && empty.gone >= 2 && other.listed > 0;
}

}  // namespace tandrel
