// Synchronises one directory, both sides at once: opens the local and then the
// server listing, walks the files and then the directories of both in step,
// takes for each pair the action its states call for, runs a child for every
// subdirectory present on both sides afterwards (with -r), and closes the
// server listing before the local one.
#pragma once

#include <string>

#include "state/run_state.h"
#include "state/side_listing.h"
#include "sync/plan.h"
#include "sync/upload_batch.h"

namespace tandrel {

class DirectorySync {
 public:
  // `name` is relative to the parent on both sides; empty for the start
  // directories. `place` is the directory's path below the start directories
  // ("/" for them), to which its records are bound (state/record_place.h).
  DirectorySync(Run& run, const std::string& name, const std::string& place = "/")
      : run_(run), name(name), place(place) {}
  ~DirectorySync() {
    server.close();
    local.close();
  }
  DirectorySync(const DirectorySync&) = delete;
  DirectorySync& operator=(const DirectorySync&) = delete;

  // True if both listings opened and the walk was not aborted.
  bool run();

 private:
  Run& run_;  // first: the listings below take it

 public:
  const std::string name;
  const std::string place;
  SideListing local{run_, true};
  SideListing server{run_, false};
  // Cleared by the parent when its records, which it has, do not know this
  // directory: records here without a place file then belong elsewhere.
  bool parentVouches = true;

 private:
  // This directory's uploads, checked once its files are done.
  UploadBatch uploads_;

  void fileStep(Entry*& l, Entry*& s);
  void directoryStep(Entry*& l, Entry*& s);
  // Carries out the plan for a pair of directories (either may be absent);
  // returns the name of the subdirectory to synchronise next, if any.
  const std::string* carryOut(const DirectoryPlan& plan, Entry* l, Entry* s);
  // Stops the walks: the run lost its place in the tree, or was interrupted.
  bool stopRequested();
  static void forgetUnreached(SideListing& listing);
  // Whether the emptied-side rule refuses this directory, after warning.
  bool refusesEmptied(const SideListing& empty, const SideListing& other) const;
};

}  // namespace tandrel
