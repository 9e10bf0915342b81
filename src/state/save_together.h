// The two databases of a directory, and the file binding them to its place,
// written as one group.
#pragma once

#include "state/side_listing.h"

namespace tandrel {

// Saves both databases of a directory (and binds them to the local listing's
// place) before either listing leaves it, as one group: when one cannot be
// written, those already written get their old contents back, so that the
// directory keeps both old records rather than one new and one old. A
// directory whose records were ignored loses the ignored database of a side
// that saves nothing. Marks both listings saved, so that closing them writes
// nothing more. Does nothing once the run has lost its place.
void saveTogether(SideListing& local, SideListing& server);

}  // namespace tandrel
