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

}  // namespace

FileState fileStateOf(const Entry* entry) {
  if (entry == nullptr) return FileState::absent;
  switch (entry->state) {
    case Unchanged:
      return FileState::unchanged;
    case New:
    case Changed:
      return FileState::changed;
    case Deleted:
      return FileState::deleted;
    case Dropped:
      break;
  }
  return FileState::absent;
}

FileAction decideFile(FileState local, FileState server, bool ftpWins) {
  const auto& table = ftpWins ? kServerWins : kLocalWins;
  return table[static_cast<int>(local)][static_cast<int>(server)];
}

DirectoryState directoryStateOf(const Entry* entry) {
  if (entry == nullptr || entry->state == Dropped) return DirectoryState::absent;
  return entry->state == Deleted ? DirectoryState::deleted : DirectoryState::present;
}

DirectoryAction decideDirectory(DirectoryState local, DirectoryState server) {
  return kDirectories[static_cast<int>(local)][static_cast<int>(server)];
}

}  // namespace tandrel
