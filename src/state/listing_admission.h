// Which of the records a side lists become entries of its listing, and what
// the user is told about those that do not: the tool's own files and "." and
// ".." are left out silently; names the run cannot handle (special files,
// dangling links, names with line breaks, links back into the tree, listing
// lines that cannot be read) are reported and held by skipped entries, so that
// whatever the other side or the database holds under them is left alone too.
#pragma once

#include <cstdint>
#include <vector>

#include "state/entry.h"
#include "state/run_state.h"
#include "storage/list_record.h"

namespace tandrel {

// The admitted entries of `records`, in compareEntries order (equal entries in
// the order listed), each skipped name as a skipped file and a skipped
// directory that take the place of any entry of that name and kind. Sets
// `unreadLines` when a listing line may have been any entry of the directory.
EntryList admitListed(Run& run, const std::vector<ListRecord>& records, bool isLocal,
                      bool& unreadLines);

// The local directories being synchronised, outermost first, by device and
// inode: a directory link that leads back into one of them, or a second link
// to one directory, is skipped.
void enterLocalDirectory(Run& run, uint64_t device, uint64_t inode);
// Forgets the innermost one.
void leaveLocalDirectory(Run& run);

}  // namespace tandrel
