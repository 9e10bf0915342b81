// Copying a file between the sides, in the current directory of each, under the
// same name. Neither copy ever leaves a partial file under the target's name:
// the data goes to the temporary name and replaces the target only when
// complete. A copy whose size differs from what its source side reported is a
// failed copy.
#pragma once

#include <cstdint>
#include <string>

namespace tandrel {

// Server file `name` to the local file `name`. `expectedSize` is the size the
// server listed, or -1 when it gave none.
bool getFile(const std::string& name, int64_t expectedSize);

// Local file `name` to the server file `name`.
bool putFile(const std::string& name);

}  // namespace tandrel
