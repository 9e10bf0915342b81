// The failure record of the storage layer: what the most recent failed storage
// operation left behind, in the three distinctions the callers need (a listing
// that ended normally, a name that does not exist, a request the server refused)
// plus the failures below them. The console's error text is made from it.
#pragma once

#include <string>

namespace tandrel {

enum class FailureKind {
  none,           // no failure recorded (or it was cleared)
  noMoreEntries,  // a listing ended normally; not an error for the caller
  notFound,       // the name does not exist on that side
  refused,        // the server answered with a failure; text is its reply
  system,         // an operating-system call failed; text is strerror()
  transport,      // the connection or transfer failed below the protocol
};

struct Failure {
  FailureKind kind = FailureKind::none;
  // The description as its source gives it, ending with one "\n" (several
  // lines for a multi-line server reply). Empty when kind is none.
  std::string text;
};

// The record left by the most recent failed operation. Successful operations do
// not clear it, just as a successful system call leaves errno alone.
const Failure& lastFailure();

void recordFailure(FailureKind kind, const std::string& text);
// Records errno-style code `error` as a system failure (notFound for ENOENT).
void recordSystemFailure(int error);
void clearFailure();

}  // namespace tandrel
