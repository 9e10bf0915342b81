#include "sync/tree_walk.h"

#include <algorithm>

namespace tandrel {

Status TreeWalk::walk(const std::string& name) {
  Status status;
  if (visitor_.settledOutside(*this, name, status)) return status;
  status = side_.changeDirectory(name);
  if (!status.ok()) {
    visitor_.cannotEnter(name, status);
    return status;
  }
  const bool guarded = visitor_.followsLinks() && enterGuard();
  const TreeVisitor::Visited visited = visitor_.visit(*this);
  if (guarded) path_.pop_back();
  Status back;
  const bool goesOn = returnToParent(name, back);
  // A failed return leaves the side in `name`, not its parent, so nothing is
  // removed by that name from there; the failure is the one reported.
  if (!back.ok()) return back;
  if (!goesOn || !visited.status.ok()) return visited.status;
  if (visited.removeDirectory) return side_.removeDirectory(name);
  return Status::OK();
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

Status TreeWalk::lostBecause() const {
  // Lost before this walk began: the failure was reported then.
  return lost_.ok() ? Status::system("") : lost_;
}

bool TreeWalk::enterGuard() {
  ListRecord here;
  if (!side_.lookUp(".", here).ok()) return false;
  path_.emplace_back(here.device, here.inode);
  return true;
}

bool TreeWalk::returnToParent(const std::string& name, Status& back) {
  // After a failed return somewhere below, ".." would lead somewhere else.
  if (run_.lostInTree && !visitor_.returnsWhenLost()) return true;
  back = side_.changeDirectory("..");
  if (!back.ok()) {
    run_.lostInTree = true;
    lost_ = back;
  }
  return visitor_.returned(name, back);
}

}  // namespace tandrel
