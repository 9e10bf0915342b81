// The text of the most recent failure, and the one way failures are reported.
#pragma once

#include <string_view>

#include "storage/status.h"

namespace tandrel {

// At most 255 bytes: the description of the most recent failed operation (a
// server's reply lines, the system's message, or the transport's), ending with
// "\n"; or empty.
std::string_view errorText();

// Called right after an operation with what it returned: ok empties the text;
// a failure fills it from the status's text (empty when it has none).
void setErrorText(const Status& status);

// Prints the message, then " - " and the error text, or ".\n" when the text is
// empty. Every report counts towards the run's exit status.
void reportError(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Marks the run as having had a problem without printing anything through
// reportError (for warnings printed directly).
void noteProblem();
// How many errors and warnings the run has reported so far.
int problemsReported();

}  // namespace tandrel
