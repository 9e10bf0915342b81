// One side (local or server) of the directory being synchronised: its entries,
// each marked New, Unchanged, Changed or Deleted against that side's database,
// walked through a cursor, and saved back when the listing closes.
//
// The entries sit in a vector of owning pointers in compareEntries order, and
// the cursor is an index into it. Each entry keeps its address until the
// listing closes, whatever is inserted before it: the walk holds the pair it is
// deciding (and an upload its target) by pointer while an action inserts into
// the same listing, so that the callers need no indices and no re-lookup. An
// insertion moves only the pointers behind it, which costs far less than the
// transfer or directory creation that causes it.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <ranges>
#include <string>

#include "state/entry.h"
#include "state/record_place.h"
#include "state/run_state.h"

namespace tandrel {

// Which entries a walk through a listing takes: files come before directories.
enum class EntryKind { files, directories };

class SideListing {
 public:
  SideListing(Run& run, bool isLocal) : run(run), isLocal(isLocal) {}
  ~SideListing() { close(); }
  SideListing(const SideListing&) = delete;
  SideListing& operator=(const SideListing&) = delete;

  // Enters `name` on this side (the empty name stays where it is), lists it,
  // loads this side's database from the local working directory and merges the
  // two. Returns false after printing an error when the directory cannot be entered
  // or listed; a database that cannot be loaded only warns.
  bool open(const std::string& name);

  // The entry at the cursor if it is of `kind`.
  Entry* first(EntryKind kind);
  // Moves past the current entry if it is of `kind` (or starts at the first
  // entry when the walk has not begun) and returns first(kind).
  Entry* next(EntryKind kind);
  // The entry at the cursor of either kind; nullptr at the end or when no walk
  // is under way.
  Entry* current() const;
  // Puts `entry` before the current entry, which stays current (at the end
  // when the walk has not begun); returns it.
  Entry* insertAtCursor(std::unique_ptr<Entry> entry);
  // Puts `entry` in order, after any equal entry; returns it.
  Entry* insertSorted(std::unique_ptr<Entry> entry);

  // Every entry in order, as a range of Entry& (range-for, size, [i]).
  auto entries() { return std::views::transform(entries_, Deref{}); }
  auto entries() const { return std::views::transform(entries_, DerefConst{}); }
  bool empty() const { return entries_.empty(); }

  // Saves the database if an entry was touched (unless saveTogether already
  // did), frees the entries and leaves the directory it entered. Safe to call
  // more than once. Once the run has lost its place in the tree, nothing is
  // saved and no directory is changed; a failed return to the parent is
  // itself such a loss and sets the run's lostInTree.
  void close();

  // Whether closing would write this side's database.
  bool needsSave() const;
  // The bytes this side's database would hold now.
  std::string encodedRecords() const;

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
  // Set by saveTogether (save_together.h): the database is dealt with.
  bool saved = false;
  bool entered = false;  // open changed into the directory: close leaves it

 private:
  struct Deref {
    Entry& operator()(const std::unique_ptr<Entry>& entry) const { return *entry; }
  };
  struct DerefConst {
    const Entry& operator()(const std::unique_ptr<Entry>& entry) const { return *entry; }
  };

  Status listDirectory();

  EntryList entries_;
  // Index of the current entry (entries_.size() at the end); none before the
  // walk starts and after close.
  std::optional<size_t> cursor_;
  bool identified_ = false;  // local: this directory is on the stack of open ones
  // The listing holds a line that may be any entry: no record is taken as deleted.
  bool unreadLines_ = false;
  // A replacement recorded in this directory could not be settled: its copies
  // must not be removed as leftovers.
  bool keepTemporaries_ = false;
};

}  // namespace tandrel
