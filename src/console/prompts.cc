#include "console/prompts.h"

#include <cctype>

#include "console/output.h"
#include "console/terminal.h"

namespace tandrel {

namespace {
// Prints the question and returns the upper-cased key that answered it.
int ask(const char* question, const char* a, const char* b, const char* c) {
  prepareForKey();
  out(question, a, b, c);
  int key = readKeyEcho();
  outText("\n");
  if (key >= 'a' && key <= 'z') key = std::toupper(key);
  return key;
}
}  // namespace

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"

int askYesNoAlways(const char* question, const char* name, int& standingAnswer, const char* side) {
  if (standingAnswer == 1) return 1;
  for (;;) {
    int key = ask(question, name, side, "");
    if (key == 'A') {
      standingAnswer = 1;
      return 1;
    }
    if (key == 'Y') return 1;
    if (key == 'N' || key == kEndOfInput) return 0;
  }
}

int askDeleteDirectory(const char* question, const char* name, int& alwaysDelete, int& recreate,
                       int& alwaysRecreate, const char* side, const char* otherSide) {
  recreate = 0;
  if (alwaysDelete == 1) return 1;
  if (alwaysRecreate == 1) {
    recreate = 1;
    return 0;
  }
  for (;;) {
    switch (ask(question, name, side, otherSide)) {
      case 'A':
        alwaysDelete = 1;
        return 1;
      case 'Y':
        return 1;
      case 'N':
      case kEndOfInput:
        return 0;
      case 'R':
        recreate = 1;
        return 0;
      case 'C':
        alwaysRecreate = 1;
        recreate = 1;
        return 0;
      default:
        break;
    }
  }
}

#pragma GCC diagnostic pop

}  // namespace tandrel
