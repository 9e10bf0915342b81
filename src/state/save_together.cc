#include "state/save_together.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "state/record_place.h"
#include "state/run_state.h"
#include "state/state_database.h"
#include "storage/reserved_names.h"

namespace tandrel {

namespace {

// One file of the group: its new bytes, or nothing to remove it.
struct GroupWrite {
  std::string name;
  std::optional<std::string> bytes;
  const char* warning;
  std::optional<std::string> old;
};

Status writeOrRemove(LocalSide& side, const std::string& name,
                     const std::optional<std::string>& bytes) {
  if (bytes) return side.replaceFile(name, *bytes);
  Status removed = side.deleteFile(name);
  return removed.isNotFound() ? Status::OK() : removed;
}

}  // namespace

void saveTogether(SideListing& local, SideListing& server) {
  if (local.run.lostInTree || (local.empty() && server.empty())) return;
  const bool localSaves = local.needsSave(), serverSaves = server.needsSave();
  local.saved = server.saved = true;
  if (!localSaves && !serverSaves) return;
  // The local database first: should the run die between the two, the side
  // with new records is the one whose files the run changed least.
  std::vector<GroupWrite> group;
  for (SideListing* listing : {&local, &server}) {
    const bool saves = listing == &local ? localSaves : serverSaves;
    if (!saves && !local.recordsIgnored) continue;
    group.push_back({databaseFileName(listing->isLocal),
                     saves ? std::optional(listing->encodedRecords()) : std::nullopt,
                     listing->isLocal ? "Warning: Can't save local database file"
                                      : "Warning: Can't save server database file",
                     std::nullopt});
  }
  std::string bound;
  if (!local.place.path.empty() &&
      (!local.run.local.readFile(std::string(kPlaceName), bound).ok() ||
       bound != placeFileBytes(local.place))) {
    group.push_back({std::string(kPlaceName), placeFileBytes(local.place),
                     "Warning: Can't save database place file", std::nullopt});
  }
  for (GroupWrite& write : group) {
    std::string bytes;
    if (local.run.local.readFile(write.name, bytes).ok()) write.old = std::move(bytes);
  }
  for (size_t i = 0; i < group.size(); ++i) {
    Status written = writeOrRemove(local.run.local, group[i].name, group[i].bytes);
    if (written.ok()) continue;
    local.run.report.error(written, "%s", group[i].warning);
    while (i-- > 0) (void)writeOrRemove(local.run.local, group[i].name, group[i].old);
    return;
  }
}

}  // namespace tandrel
