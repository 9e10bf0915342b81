// Which place a directory's records were written for.
//
// The two databases of a directory describe that directory as it was at the
// end of the last run. Carried elsewhere with the directory (a move, a rename,
// a copy with its state files), they describe another place: taken as this
// place's, every recorded file missing here would count as deleted. So each
// directory's records are bound to the place they were written for, in a small
// file beside them ("zztandrel.zzplace"): the directory's path below the start
// directories, and the two directories themselves (the local one by device and
// inode, the server one by its absolute path). Records count where the path
// below the start directories is the same (the whole tree moved or renamed as
// one, the parent's records lost), or where both directories are the very ones
// they were written in (a subtree now synchronised from another start).
#pragma once

#include <string>

#include "storage/local_side.h"

namespace tandrel {

struct Place {
  std::string path;    // below the start directories: "/" for them, "/old/docs"
  std::string local;   // "DEVICE:INODE" of the local directory
  std::string server;  // the server directory's absolute path
};

// The path of `name` below the directory at `parent`.
std::string placeBelow(const std::string& parent, const std::string& name);

// The bytes of the place file for `place`.
std::string placeFileBytes(const Place& place);

// Whether the records in the local working directory belong to `place`: the
// place file names its path or both its directories, or there is no place file
// and the parent's records vouch for the directory (they know it, or the
// parent has none).
bool recordsBelongHere(LocalSide& local, const Place& place, bool parentVouches);

}  // namespace tandrel
