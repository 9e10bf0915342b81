// Synchronises one directory, both sides at once: opens the local and then the
// server listing, walks the files and then the directories of both in step,
// takes for each pair the action its states call for, runs a child for every
// subdirectory present on both sides afterwards (with -r), and closes the
// server listing before the local one.
#pragma once

#include <string>

#include "state/side_listing.h"

namespace tandrel {

class DirectorySync {
 public:
  // `name` is relative to the parent on both sides; empty for the start directories.
  explicit DirectorySync(const std::string& name) : name(name) {}
  ~DirectorySync() {
    server.close();
    local.close();
  }
  DirectorySync(const DirectorySync&) = delete;
  DirectorySync& operator=(const DirectorySync&) = delete;

  // 1 if both listings opened and the walk was not aborted.
  int run();

  const std::string name;
  SideListing local{1};
  SideListing server{0};
  // Set by the parent when it has just forgotten every server record under
  // this directory: nothing below needs forgetting again.
  bool serverRecordsForgotten = false;

 private:
  void fileStep(Entry*& l, Entry*& s);
  void directoryStep(Entry*& l, Entry*& s);
  // Stops the walks: the run lost its place in the tree, or was interrupted.
  bool stopRequested();
  static void forgetUnreached(SideListing& listing);
  bool emptiedUnattended(const SideListing& empty, const SideListing& other) const;
};

}  // namespace tandrel
