// What happened to each entry of a side since the last run: the side's sorted
// listing merged with the records its database kept.
#pragma once

#include "state/entry.h"

namespace tandrel {

// Merges `listed` with `recorded`, both in compareEntries order, into one list
// in that order. A listed entry without a record becomes New; one with a record
// Unchanged, or Changed for a file newer than its record, which then carries
// the recorded time. A record without a listed entry becomes a Deleted
// placeholder, or, when the listing held lines that could not be read
// (`unreadLines`), a skipped Unchanged one keeping its record. A listed skipped
// entry keeps its record's time and is never New. Server times that show less
// than their records (no year, minutes only) count as the recorded time.
EntryList mergeWithRecords(EntryList listed, const EntryList& recorded, bool isLocal,
                           bool unreadLines);

}  // namespace tandrel
