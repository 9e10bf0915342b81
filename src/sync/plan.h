// What a pair of entries calls for: every decision rule, as pure functions of
// the two sides' states, the facts about the pair and the run's policy.
// Nothing here touches a side, asks a question or prints; the directory walk
// carries the chosen plan out through the entry actions, which ask where the
// plan says so.
#pragma once

#include "state/entry.h"
#include "state/run_state.h"

namespace tandrel {

// What bears on the rules besides the pair: the switches and the standing
// answers as they stand now. A person's Always changes the standing answers
// during the run, so a policy is taken afresh for every pair.
struct Policy {
  bool ftpWins = false;     // -f: the server wins file conflicts
  bool recursive = false;   // -r: directory pairs are entered
  bool unattended = false;  // -y: nobody sees what a deletion takes
  StandingAnswers always = {};
};

Policy policyOf(const Run& run);

// Whether an action asks before it acts.
enum class Confirm { no, ask };

// Whether a directory deletion keeps the files in the tree that are new or
// changed since the last run (and then recreates the directory on the other
// side instead of recording the deletion).
enum class KeepNewFiles { no, yes };

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
  overwriteLocal,   // a conflict: the server's copy replaces the local one
  overwriteServer,  // a conflict: the local copy replaces the server's
  deleteLocal,      // the local copy goes
  deleteServer,     // the server's copy goes
  leaveSkipped,     // a side holds an entry the run cannot handle: both stay as they are
};

// The state of `entry` (nullptr: absent) as the rules see it.
FileState fileStateOf(const Entry* entry);

struct FilePair {
  FileState local = FileState::absent;
  FileState server = FileState::absent;
  bool skipped = false;  // either side's entry is one the run cannot handle
};

// The pair of `local` and `server` (either may be nullptr: absent).
FilePair filePairOf(const Entry* local, const Entry* server);

struct FilePlan {
  FileAction action = FileAction::leave;
  Confirm confirm = Confirm::no;
  bool operator==(const FilePlan&) const = default;
};

// The rules of the decision table. Local wins the three conflicts (changed on
// both sides; changed on one side and deleted on the other); with ftpWins the
// server wins them instead. Overwrites and deletions ask unless their
// standing answer is yes.
FilePlan decide(const FilePair& pair, const Policy& policy);

// One side's state of a directory name: present (new or recorded), deleted
// (recorded, gone) or absent (neither).
enum class DirectoryState { present, deleted, absent };

enum class DirectoryAction {
  leave,             // nothing to do
  forget,            // the name goes from the records of both sides
  enter,             // present on both sides: synchronised inside
  createOnLocal,     // created locally, then entered
  createOnServer,    // created on the server, then entered
  deleteOnLocal,     // deleted on the server: the local tree goes, or if so answered goes back
  deleteOnServer,    // deleted locally: the server's tree goes, or if so answered comes back
  recreateOnServer,  // deleted on the server: the local tree goes back there, unasked
  recreateOnLocal,   // deleted locally: the server's tree comes back, unasked
  leaveSkipped,      // a side holds an entry the run cannot handle: both stay as they are
  leaveUnentered,    // without -r: recorded as declined, neither created, deleted nor entered
};

DirectoryState directoryStateOf(const Entry* entry);

struct DirectoryPair {
  DirectoryState local = DirectoryState::absent;
  DirectoryState server = DirectoryState::absent;
  bool skipped = false;       // either side's entry is one the run cannot handle
  bool localIsLink = false;   // the local side lists the name as a symbolic link
  bool serverIsLink = false;  // so does the server
};

DirectoryPair directoryPairOf(const Entry* local, const Entry* server);

struct DirectoryPlan {
  DirectoryAction action = DirectoryAction::leave;
  Confirm confirm = Confirm::no;
  KeepNewFiles keep = KeepNewFiles::no;
  bool operator==(const DirectoryPlan&) const = default;
};

// Directories have no conflicts: what one side created is created on the
// other, what one side deleted is deleted on the other. Under -y a deletion on
// the side that wins file conflicts keeps what is new there (a link goes as a
// link and needs no look inside).
DirectoryPlan decide(const DirectoryPair& pair, const Policy& policy);

// One side of a directory as the emptied-side rule counts it.
struct SideCounts {
  int listed = 0;  // entries the side lists now
  int gone = 0;    // recorded entries it no longer lists
};

// Under -y: a side that lists nothing where at least two entries were
// recorded, while the other side still lists something, looks the same as a
// person deleting everything but is more often a reset account, a wrong
// directory or a server that lists a missing directory as empty. Nothing in
// the directory is then touched until a person has seen it once.
bool refusesEmptiedSide(SideCounts empty, SideCounts other, const Policy& policy);

}  // namespace tandrel
