#include "sync/tree_walk.h"

#include <algorithm>

#include "console/error_text.h"

namespace tandrel {

bool TreeWalk::walk(const std::string& name) {
  bool ok = false;
  if (visitor_.settledOutside(name, ok)) return ok;
  ok = side_.changeDirectory(name);
  setErrorText(!ok);
  if (!ok) {
    visitor_.cannotEnter(name);
    return false;
  }
  const bool guarded = visitor_.followsLinks() && enterGuard();
  const TreeVisitor::Visited visited = visitor_.visit(*this);
  ok = visited.ok;
  setErrorText(!ok);
  if (guarded) path_.pop_back();
  if (!returnToParent(name) || !ok) return false;
  if (visited.removeDirectory) {
    ok = side_.removeDirectory(name);
    setErrorText(!ok);
  }
  return ok;
}

bool TreeWalk::leadsDown(const ListRecord& record) {
  if (!record.isDirectory()) return false;
  if (!visitor_.followsLinks()) return !record.isLink;
  const bool onPath = std::find(path_.begin(), path_.end(),
                                std::make_pair(record.device, record.inode)) != path_.end();
  // The walk of the synchronisation does not follow a link back into the
  // tree, so neither does this one.
  const bool intoStart =
      record.isLink && run_.localStartInode != 0 &&
      run_.local.directoryLiesWithin(record.name, run_.localStartDevice, run_.localStartInode);
  return !onPath && !intoStart;
}

bool TreeWalk::enterGuard() {
  ListRecord here;
  if (!side_.lookUp(".", here)) return false;
  path_.emplace_back(here.device, here.inode);
  return true;
}

bool TreeWalk::returnToParent(const std::string& name) {
  // After a failed return somewhere below, ".." would lead somewhere else.
  if (run_.lostInTree && !visitor_.returnsWhenLost()) return true;
  const bool back = side_.changeDirectory("..");
  if (!back) run_.lostInTree = true;
  return visitor_.returned(name, back);
}

}  // namespace tandrel
