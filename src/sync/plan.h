// What a pair of entries calls for: the decision rules, as pure functions of
// the two sides' states and the switches. Nothing here touches a side, asks a
// question or prints; the directory walk carries the chosen action out, and
// the actions ask where they are destructive (and apply the rules of
// unattended deletions, which need to look inside a tree).
#pragma once

#include "state/entry.h"

namespace tandrel {

// One side's state of a name, against that side's records.
enum class FileState {
  unchanged,  // present and recorded, not newer than its record
  changed,    // present and new or newer than its record
  deleted,    // recorded, gone
  absent,     // neither present nor recorded
};

enum class FileAction {
  leave,            // nothing to do
  forget,           // the name goes from the records of both sides
  copyToLocal,      // the server's copy goes to local: created, put back or updated
  copyToServer,     // the local copy goes to the server: created, put back or updated
  overwriteLocal,   // a conflict: after a question the server's copy replaces the local one
  overwriteServer,  // a conflict: after a question the local copy replaces the server's
  deleteLocal,      // after a question the local copy goes
  deleteServer,     // after a question the server's copy goes
};

// The state of `entry` (nullptr: absent) as the rules see it.
FileState fileStateOf(const Entry* entry);

// The rules of the decision table. Local wins the three conflicts (changed on
// both sides; changed on one side and deleted on the other); with `ftpWins`
// the server wins them instead.
FileAction decideFile(FileState local, FileState server, bool ftpWins);

// One side's state of a directory name: present (new or recorded), deleted
// (recorded, gone) or absent (neither).
enum class DirectoryState { present, deleted, absent };

enum class DirectoryAction {
  leave,           // nothing to do
  forget,          // the name goes from the records of both sides
  enter,           // present on both sides: synchronised inside
  createOnLocal,   // after a question, created locally, then entered
  createOnServer,  // after a question, created on the server, then entered
  deleteOnLocal,   // deleted on the server: after a question the local tree goes (or comes back there)
  deleteOnServer,  // deleted locally: after a question the server's tree goes (or comes back locally)
};

DirectoryState directoryStateOf(const Entry* entry);

// Directories have no conflicts: what one side created is created on the
// other, what one side deleted is deleted on the other.
DirectoryAction decideDirectory(DirectoryState local, DirectoryState server);

}  // namespace tandrel
