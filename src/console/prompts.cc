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

bool askYesNoAlways(const char* question, const char* name, bool& standingAnswer,
                    const char* side) {
  if (standingAnswer) return true;
  for (;;) {
    int key = ask(question, name, side, "");
    if (key == 'A') {
      standingAnswer = true;
      return true;
    }
    if (key == 'Y') return true;
    if (key == 'N' || key == kEndOfInput) return false;
  }
}

DirectoryChoice askDeleteDirectory(const char* question, const char* name, bool& alwaysDelete,
                                   bool& alwaysRecreate, const char* side, const char* otherSide) {
  if (alwaysDelete) return DirectoryChoice::remove;
  if (alwaysRecreate) return DirectoryChoice::recreate;
  for (;;) {
    switch (ask(question, name, side, otherSide)) {
      case 'A':
        alwaysDelete = true;
        return DirectoryChoice::remove;
      case 'Y':
        return DirectoryChoice::remove;
      case 'N':
      case kEndOfInput:
        return DirectoryChoice::leave;
      case 'R':
        return DirectoryChoice::recreate;
      case 'C':
        alwaysRecreate = true;
        return DirectoryChoice::recreate;
      default:
        break;
    }
  }
}

#pragma GCC diagnostic pop

}  // namespace tandrel
