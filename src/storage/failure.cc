#include "storage/failure.h"

#include <cerrno>
#include <cstring>

namespace tandrel {

namespace {
Failure last;
}  // namespace

const Failure& lastFailure() { return last; }

void recordFailure(FailureKind kind, const std::string& text) {
  last.kind = kind;
  last.text = text;
  if (!last.text.empty() && last.text.back() != '\n') last.text.push_back('\n');
}

void recordSystemFailure(int error) {
  recordFailure(error == ENOENT ? FailureKind::notFound : FailureKind::system,
                std::strerror(error));
}

void clearFailure() { last = Failure{}; }

}  // namespace tandrel
