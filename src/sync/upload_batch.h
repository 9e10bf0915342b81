// The uploads of one directory whose server copies are checked together once
// the directory's file transfers are done: the server's write times (and
// sizes) are read in one listing of the directory rather than one per file.
// The directory's walk owns the batch and completes it while the server is
// still in that directory, before the directory's listing is saved.
#pragma once

#include <cstdint>
#include <vector>

#include "state/entry.h"
#include "state/run_state.h"

namespace tandrel {

class UploadBatch {
 public:
  UploadBatch() = default;
  UploadBatch(const UploadBatch&) = delete;
  UploadBatch& operator=(const UploadBatch&) = delete;

  // An upload of `source` to the server's `target` that sent `sent` bytes.
  void add(Entry* target, Entry* source, int64_t sent);
  // The Deleted placeholder that the last upload's new entry replaces: its
  // record goes too if the copy proves short.
  void setPlaceholderOfLast(Entry* placeholder);

  // Looks every upload up in the server's current directory, takes the server's
  // write time for its entry, and reports and records as failed each copy that
  // is missing or shorter than what was sent. Leaves the batch empty.
  void complete(Run& run);

 private:
  struct Upload {
    Entry* target;       // the server's copy
    Entry* source;       // the local file it came from
    Entry* placeholder;  // createFrom's placeholder of the target, if any
    int64_t sent;
  };
  std::vector<Upload> uploads_;
};

// The server has no copy under the target's name: its record is forgotten, so
// that the next run copies the file again instead of taking it for deleted.
void forgetServerCopy(Entry& target);

}  // namespace tandrel
