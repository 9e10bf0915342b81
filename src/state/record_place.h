// Which place a directory's records were written for.
//
// The two databases of a directory describe that directory as it was at the
// end of the last run. Carried elsewhere with the directory (a move, a rename,
// a copy with its state files), they describe another place: taken as this
// place's, every recorded file missing here would count as deleted. So each
// directory's records are bound to its path below the start directories, in a
// small file beside them ("zztandrel.zzplace"), and used only where that path
// is the directory's own. The path relative to the start directories does not
// change when the whole tree is moved or renamed, nor when the parent's
// records are lost, so genuine records stay in force then.
#pragma once

#include <optional>
#include <string>

namespace tandrel {

// The place of `name` inside the directory at `parent` ("/" for the start
// directories).
std::string placeBelow(const std::string& parent, const std::string& name);

// The place the records in the local working directory were bound to, or
// nothing when no place file is there (records of older versions, or none).
std::optional<std::string> boundPlace();

// Whether the records in the local working directory belong to `place`: the
// place file names it, or there is no place file and the parent's records
// vouch for the directory (they know it, or the parent has none).
bool recordsBelongHere(const std::string& place, bool parentVouches);

// The bytes of the place file for `place`.
std::string placeFileBytes(const std::string& place);

}  // namespace tandrel
