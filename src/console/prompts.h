// The single-keystroke questions. Each kind of question has a standing answer
// (a flag the run keeps, passed by reference); once it is 1 the question is answered yes without
// being printed. Letters count in either case; any other key prints the
// question again. At the end of the input (a script that ran out of answers)
// every question is answered no, so the run finishes and the declined actions
// come back next run.
#pragma once

namespace tandrel {

// `question` has the name at its first %s and, when it has a second %s, the side.
// Returns 1 for Y or A (A also sets standingAnswer to 1), 0 for N.
int askYesNoAlways(const char* question, const char* name, int& standingAnswer,
                   const char* side = "");

// The delete-directory question: name, side and otherSide fill its three %s.
// Returns 1 to delete (Y, or A which sets alwaysDelete); 0 otherwise, with
// recreate set to 1 for R and for C (which also sets alwaysRecreate).
// alwaysDelete is consulted before alwaysRecreate.
int askDeleteDirectory(const char* question, const char* name, int& alwaysDelete, int& recreate,
                       int& alwaysRecreate, const char* side, const char* otherSide);

}  // namespace tandrel
