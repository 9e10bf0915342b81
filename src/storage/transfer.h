// Copying a file between the sides, in the current directory of each, under the
// same name. Neither copy ever leaves a partial file under the target's name:
// the data goes to the run's temporary name and replaces the target only when
// complete. A copy is complete only when its source still looks as the run's
// listing showed it (write time and size) once the data has travelled;
// otherwise the temporary copy is removed and the target keeps its old copy.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "storage/list_record.h"
#include "storage/local_side.h"
#include "storage/server_side.h"

namespace tandrel {

// What the run's listing showed of a transfer's source.
struct ListedSource {
  FileTime writeTime = 0;
  int64_t size = -1;  // -1 when the listing gave no size (a server link, say)
};

// Server file `name` to the local file `name`.
Status getFile(LocalSide& local, ServerSide& server, const std::string& name,
               const ListedSource& listed);

// Local file `name` to the server file `name`; `sent` receives the bytes sent.
// After a failure, `targetGone` says whether the server no longer has `name`
// (a refused rename after the old copy was deleted).
Status putFile(LocalSide& local, ServerSide& server, const std::string& name,
               const ListedSource& listed, int64_t& sent, bool& targetGone);

// Removes from the current directory of `side` the temporary files of other
// runs that `records`, its listing, shows to be abandoned. Best effort.
void removeAbandonedTemporaries(Side& side, const std::vector<ListRecord>& records);

}  // namespace tandrel
