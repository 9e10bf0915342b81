// The actions that change one side: each is called on the listing of the side it
// changes, with that side's entry first and the other side's entry second. Each
// asks where the step is destructive or settles a conflict, prints its progress,
// performs the storage operation, reports a failure, and records the outcome on
// both entries with commitEntry, so that a failed or declined step comes back on
// the next run. Each returns 1 when carried out, 0 when it failed or was declined.
#pragma once

#include "state/entry.h"
#include "state/run_state.h"
#include "state/side_listing.h"

namespace tandrel {

// Copies the other side's file `source` to this side, where it is absent or
// `existing` is its Deleted placeholder. The new entry goes in at the cursor.
int createFrom(Run& run, SideListing& side, Entry* existing, Entry* source);

// Overwrites this side's `target` with the other side's `source`; with prompt 1
// asks first, with announce 1 prints the "Updating" line.
int updateFile(Run& run, SideListing& side, Entry* target, Entry* source, int prompt, int announce);

// Deletes this side's file `target`, whose counterpart was deleted on the other side.
int deleteFile(Run& run, SideListing& side, Entry* target, Entry* counterpart);

// Creates the directory `source` of the other side on this side, where it is
// absent or `existing` is its placeholder; with prompt 1 asks first.
int createDirectory(Run& run, SideListing& side, Entry* existing, Entry* source, int prompt);

// Deletes this side's directory tree `target`, after asking. When the user chose
// to recreate it on the other side instead, returns 0 with recreate 1 and
// records nothing: the recreation does. So too when -y answered and the tree
// held files new or changed since the last run that win against the deletion:
// only the rest is removed, and the directory goes to the other side again.
int deleteDirectory(Run& run, SideListing& side, Entry* target, Entry* counterpart, int& recreate);

// Before a directory deleted on the server is created there again from its local
// copy: forgets every server record under the local copy. Called on the local listing.
int purgeForRecreate(Run& run, SideListing& side, Entry* target, Entry* counterpart);

// Reads the entry's write time again from its side's current directory; 1 when
// the entry was found (the server is asked up to 10 times).
int refreshTime(Run& run, Entry& entry, int isLocal);

// Server write times after transfers are read in one listing of the directory
// for all of its transfers, not one listing per file: updateFile queues them and
// this reads them. Must run while the server's current directory is the one the
// transfers went to, before its listing is saved.
void completeServerRefreshes(Run& run);

}  // namespace tandrel
