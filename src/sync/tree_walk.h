// One walk through a directory tree on one side. Every walk enters a directory
// by name from its parent, works through it, and returns to the parent; what
// it does in each directory is its visitor's. The walk alone decides which
// entries lead further down (one link policy, one loop guard) and what a
// failed return means: the run's lostInTree, since every name below the start
// directories is relative and the run can no longer trust where it is.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "state/run_state.h"
#include "storage/side.h"

namespace tandrel {

class TreeWalk;

class TreeVisitor {
 public:
  virtual ~TreeVisitor() = default;

  // What visit found. The directory is removed after the return to its
  // parent when `status` is ok and `removeDirectory` is set.
  struct Visited {
    Status status;
    bool removeDirectory;
  };

  // Whether a directory reached through a link is walked too. Without it a
  // link is never followed: the visitor sees it as an entry of its own.
  virtual bool followsLinks() const { return false; }
  // Before `name` is entered: true when the visitor dealt with it as a whole
  // (a link removed as a link, a walk that must not go on), with `status`
  // saying how that went.
  virtual bool settledOutside(TreeWalk& walk, const std::string& name, Status& status) {
    (void)walk;
    (void)name;
    (void)status;
    return false;
  }
  // Inside the directory: lists it through walk.side() and works through the
  // listing, walking down (walk.walk) where walk.leadsDown says it may.
  virtual Visited visit(TreeWalk& walk) = 0;
  // Whether the return to the parent is tried after the run lost its place.
  virtual bool returnsWhenLost() const { return false; }
  // Called when `name` could not be entered, with why not.
  virtual void cannotEnter(const std::string& name, const Status& why) {
    (void)name;
    (void)why;
  }
  // Called after the return to the parent was tried (`back`: how it went);
  // false stops the walk of `name` as failed.
  virtual bool returned(const std::string& name, const Status& back) {
    (void)name;
    (void)back;
    return true;
  }
};

class TreeWalk {
 public:
  TreeWalk(Run& run, Side& side, TreeVisitor& visitor)
      : run_(run), side_(side), visitor_(visitor) {}
  TreeWalk(const TreeWalk&) = delete;
  TreeWalk& operator=(const TreeWalk&) = delete;

  // Enters `name`, lets the visitor work through it, returns to the parent
  // and, where the visitor asks, removes `name`. On failure, the status of the
  // latest operation that failed.
  Status walk(const std::string& name);

  // Whether the walk goes down into `record` of the current directory: a
  // directory, not a link unless the visitor follows links, and then neither
  // a directory the walk is already inside nor a link into the run's local
  // start directory.
  bool leadsDown(const ListRecord& record);

  Side& side() { return side_; }
  // The failed return to a parent that lost the run its place, when this walk
  // made it; a failure without text when the run was lost before it began.
  Status lostBecause() const;

 private:
  bool enterGuard();
  // Returns to the parent unless the run is lost; `back` receives how that
  // went. False when the visitor stops the walk.
  bool returnToParent(const std::string& name, Status& back);

  Run& run_;
  Side& side_;
  TreeVisitor& visitor_;
  // The directories the walk is inside, by device and inode, while it follows
  // links: a link back up the tree cannot make it go round for ever.
  std::vector<std::pair<uint64_t, uint64_t>> path_;
  Status lost_;
};

}  // namespace tandrel
