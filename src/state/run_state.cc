#include "state/run_state.h"

namespace tandrel {

RunSettings settings;
int alwaysDeleteUnchangedFile = 0;
int alwaysDeleteUpdatedFile = 0;
int alwaysOverwrite = 0;
int alwaysCreateDirectory = 0;
int alwaysDeleteDirectory = 0;
int alwaysRecreateDirectory = 0;
int yesSwitch = 0;
int lostInTree = 0;
int abortReported = 0;

void resetRunState() {
  settings = RunSettings{};
  alwaysDeleteUnchangedFile = alwaysDeleteUpdatedFile = alwaysOverwrite = 0;
  alwaysCreateDirectory = alwaysDeleteDirectory = alwaysRecreateDirectory = 0;
  yesSwitch = 0;
  lostInTree = abortReported = 0;
}

}  // namespace tandrel
