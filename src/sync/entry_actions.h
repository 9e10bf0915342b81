// The actions that change one side: each is called on the listing of the side it
// changes, with that side's entry first and the other side's entry second. Each
// carries out what the planner (sync/plan.h) decided: it asks where the plan's
// Confirm says so, prints its progress, performs the storage operation, reports
// a failure, and records the outcome on both entries with commitEntry, so that a
// failed or declined step comes back on the next run. None decides a rule.
#pragma once

#include "state/entry.h"
#include "state/run_state.h"
#include "state/side_listing.h"
#include "sync/plan.h"
#include "sync/upload_batch.h"

namespace tandrel {

enum class Outcome {
  done,      // carried out
  declined,  // the user said no
  failed,    // reported as an error
  recreate,  // deleteDirectory only: the directory goes to the other side again
};

// Whether updateFile prints its "Updating" line.
enum class Announce { no, line };

// Copies the other side's file `source` to this side, where it is absent or
// `existing` is its Deleted placeholder. The new entry goes in at the cursor.
// An upload joins `uploads`, which checks the server's copy.
Outcome createFrom(Run& run, SideListing& side, UploadBatch& uploads, Entry* existing,
                   Entry* source);

// Overwrites this side's `target` with the other side's `source`. An upload
// joins `uploads`, which checks the server's copy and takes its write time.
Outcome updateFile(Run& run, SideListing& side, UploadBatch& uploads, Entry* target, Entry* source,
                   Confirm confirm, Announce announce);

// Deletes this side's file `target`, whose counterpart was deleted on the
// other side, after asking when `confirm` says so.
Outcome deleteFile(Run& run, SideListing& side, Entry* target, Entry* counterpart,
                   Confirm confirm);

// Creates the directory `source` of the other side on this side, where it is
// absent or `existing` is its placeholder.
Outcome createDirectory(Run& run, SideListing& side, Entry* existing, Entry* source,
                        Confirm confirm);

// Deletes this side's directory tree `target`, after asking when `confirm`
// says so. When the user chose to recreate it on the other side instead,
// returns recreate and records nothing: the recreation does. So too with
// `keep` when the tree held files new or changed since the last run: they
// stay (each named in a warning), only the rest is removed, and the directory
// goes to the other side again.
Outcome deleteDirectory(Run& run, SideListing& side, Entry* target, Entry* counterpart,
                        Confirm confirm, KeepNewFiles keep);

// Before a directory deleted on the server is created there again from its local
// copy: forgets every server record under the local copy. Called on the local listing.
Outcome purgeForRecreate(Run& run, SideListing& side, Entry* target, Entry* counterpart);

// Reads the entry's write time again from its side's current directory; true
// when the entry was found (the server is asked up to 10 times).
bool refreshTime(Run& run, Entry& entry, bool isLocal);

}  // namespace tandrel
