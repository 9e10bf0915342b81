// Whole-tree walks. Each takes a directory name relative to its side's current
// directory, enters it, works through it and returns to the parent. A failed
// return to a parent sets the run's lostInTree: every name below the start directories is
// relative, so the run can no longer trust where it is.
#pragma once

#include <cstdint>
#include <string>

#include "state/run_state.h"
#include "storage/status.h"

namespace tandrel {

// Removes the local directory `name` and everything in it. Symbolic links are
// removed as links; what they point to is never touched. On failure, the
// status of the operation that failed. Prints nothing: the caller reports.
Status removeLocalTree(Run& run, const std::string& name);

// Removes the server directory `name` and everything in it: files while the
// directory is listed, subdirectories afterwards, last listed first.
Status removeServerTree(Run& run, const std::string& name);

// For a directory deleted on the other side: the files in the tree `name` on
// this side (local with isLocal, else server) that are new or changed since
// the last run, by each level's own local records (a level without records,
// and every server level, counts as all new). With act false only looks:
// prints one warning per such file, named `path`/file, and adds them to
// `kept`. With act true removes everything else: unchanged files, links, and
// directories that lead to no kept file; what is kept keeps its state files.
// On failure, the status of the operation that failed.
Status keepChangedFiles(Run& run, bool isLocal, const std::string& name, const std::string& path,
                        bool act, int& kept);

// Deletes every server database file in the local tree `name`, so that the tree
// can be created on the server again as if it had never been there. Prints its
// own messages. A link back into the run's local start directory is not followed.
Status purgeServerDatabases(Run& run, const std::string& name);

}  // namespace tandrel
