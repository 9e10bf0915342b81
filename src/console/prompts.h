// The single-keystroke questions. Each kind of question has a standing answer
// (a flag the run keeps, passed by reference); once it is set the question is answered yes without
// being printed. Letters count in either case; any other key prints the
// question again. At the end of the input (a script that ran out of answers)
// every question is answered no, so the run finishes and the declined actions
// come back next run.
#pragma once

namespace tandrel {

// `question` has the name at its first %s and, when it has a second %s, the side.
// Returns true for Y or A (A also sets standingAnswer), false for N.
bool askYesNoAlways(const char* question, const char* name, bool& standingAnswer,
                    const char* side = "");

// What the delete-directory question decided.
enum class DirectoryChoice {
  leave,     // N, or the end of the input
  remove,    // Y, or A which sets alwaysDelete
  recreate,  // R, or C which sets alwaysRecreate
};

// The delete-directory question: name, side and otherSide fill its three %s.
// alwaysDelete is consulted before alwaysRecreate.
DirectoryChoice askDeleteDirectory(const char* question, const char* name, bool& alwaysDelete,
                                   bool& alwaysRecreate, const char* side, const char* otherSide);

}  // namespace tandrel
