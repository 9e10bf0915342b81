// The one way a run reports what went wrong, and its count of problems, from
// which the run takes its exit status. The Run owns one; code that runs before
// there is a Run uses one of its own.
#pragma once

#include "storage/status.h"

namespace tandrel {

class Reporter {
 public:
  // Prints the message, then " - " and the text of `status` (at most 255
  // bytes, ending with "\n"), or ".\n" when that text is empty, as it is for
  // an ok status. Counts as a problem.
  void error(const Status& status, const char* format, ...) __attribute__((format(printf, 3, 4)));
  // Prints the message and ".\n". Counts as a problem.
  void error(const char* format, ...) __attribute__((format(printf, 2, 3)));

  // Counts a problem that was printed some other way (a warning written
  // directly).
  void noteProblem() { ++problems_; }
  // How many errors and warnings the run has reported so far.
  int problems() const { return problems_; }

 private:
  int problems_ = 0;
};

}  // namespace tandrel
