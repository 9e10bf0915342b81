// The text of the most recent failure, and the one way failures are reported.
#pragma once

#include <string_view>

namespace tandrel {

// At most 255 bytes: the description of the most recent failed operation (a
// server's reply lines, the system's message, or the transport's), ending with
// "\n"; or empty.
std::string_view errorText();

// Called right after an operation with whether it failed. false empties the
// text; true fills it from the storage layer's failure record (empty when that
// record holds no description).
void setErrorText(bool failed);

// Prints the message, then " - " and the error text, or ".\n" when the text is
// empty. Every report counts towards the run's exit status.
void reportError(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Marks the run as having had a problem without printing anything through
// reportError (for warnings printed directly).
void noteProblem();
// How many errors and warnings the run has reported so far.
int problemsReported();

}  // namespace tandrel
