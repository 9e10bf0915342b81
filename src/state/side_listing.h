// One side (local or server) of the directory being synchronised: its entries,
// each marked New, Unchanged, Changed or Deleted against that side's database,
// walked through a cursor, and saved back when the listing closes.
#pragma once

#include <string>

#include "state/entry.h"
#include "state/record_place.h"
#include "state/run_state.h"
#include "state/state_database.h"

namespace tandrel {

class SideListing {
 public:
  SideListing(Run& run, bool isLocal) : run(run), isLocal(isLocal) {}
  ~SideListing() { close(); }
  SideListing(const SideListing&) = delete;
  SideListing& operator=(const SideListing&) = delete;

  // Enters `name` on this side (the empty name stays where it is), lists it,
  // loads this side's database from the local working directory and merges the
  // two. Returns 0 after printing an error when the directory cannot be entered
  // or listed; a database that cannot be loaded only warns.
  int open(const std::string& name);

  // The entry at the cursor if it is of `kind` (0 files, 1 directories).
  Entry* first(int kind);
  // Moves past the current entry if it is of `kind` (or starts at the head when
  // the walk has not begun) and returns first(kind).
  Entry* next(int kind);
  // Puts `entry` before the current entry, which stays current; takes ownership.
  void insertAtCursor(Entry* entry);
  // Puts `entry` in order, after any equal entry; takes ownership.
  void insertSorted(Entry* entry);

  // Saves the database if an entry was touched (unless saveTogether already
  // did), frees the entries and leaves the directory it entered. Safe to call
  // more than once. Once the run has lost its place in the tree, nothing is
  // saved and no directory is changed; a failed return to the parent is
  // itself such a loss and sets the run's lostInTree.
  void close();

  // Whether closing would write this side's database.
  bool needsSave() const;

  // "local" or "server".
  const char* sideName() const { return isLocal ? "local" : "server"; }
  const char* otherSideName() const { return isLocal ? "server" : "local"; }

  // The run this listing belongs to: its sides, settings and walk state.
  Run& run;
  const bool isLocal;
  // Set before open. The place the directory's records must belong to (its
  // path empty: not checked; the local directory is filled in by open), and
  // whether the parent's records vouch for it where no place file says where
  // its records belong (record_place.h).
  Place place;
  bool parentVouches = true;
  // The directory's records were written for another place: this listing
  // merged with none. A local listing finds it out; the server one is told.
  bool recordsIgnored = false;
  // The database held at least one record (and was used).
  bool hadRecords = false;
  // Set by saveTogether: the database is dealt with.
  bool saved = false;
  int entered = 0;
  StateDatabase database;
  Entry* head = nullptr;
  Entry** cursor = nullptr;

 private:
  bool listDirectory();
  void merge(Entry* recorded);
  bool identified_ = false;  // local: this directory is on the stack of open ones
  // The listing holds a line that may be any entry: no record is taken as deleted.
  bool unreadLines_ = false;
  // A replacement recorded in this directory could not be settled: its copies
  // must not be removed as leftovers.
  bool keepTemporaries_ = false;
};

// Saves both databases of a directory (and binds them to the local listing's
// place) before either listing leaves it, as one group: when one cannot be
// written, those already written get their old contents back, so that the
// directory keeps both old records rather than one new and one old. A
// directory whose records were ignored loses the ignored database of a side
// that saves nothing. Does nothing once the run has lost its place.
void saveTogether(SideListing& local, SideListing& server);

}  // namespace tandrel
