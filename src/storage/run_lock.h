// One run at a time per local start directory.
#pragma once

namespace tandrel {

// Takes an advisory lock on the working directory itself (no file is created);
// it is held until the process ends, however it ends. Returns false when
// another process holds it.
bool lockWorkingDirectory();

}  // namespace tandrel
