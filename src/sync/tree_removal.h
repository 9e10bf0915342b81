// Whole-tree walks. Each takes a directory name relative to its side's current
// directory, enters it, works through it and returns to the parent. A failed
// return to a parent sets lostInTree: every name below the start directories is
// relative, so the run can no longer trust where it is.
#pragma once

#include <string>

namespace tandrel {

// Removes the local directory `name` and everything in it. Symbolic links are
// removed as links; what they point to is never touched. Returns 1 on success.
// Prints nothing: the caller reports.
int removeLocalTree(const std::string& name);

// Removes the server directory `name` and everything in it: files while the
// directory is listed, subdirectories afterwards, last listed first.
int removeServerTree(const std::string& name);

// Deletes every server database file in the local tree `name`, so that the tree
// can be created on the server again as if it had never been there. Prints its
// own messages.
int purgeServerDatabases(const std::string& name);

}  // namespace tandrel
