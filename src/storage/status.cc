#include "storage/status.h"

#include <cerrno>
#include <cstring>

namespace tandrel {

Status::Status(Kind kind, std::string text) : kind_(kind), text_(std::move(text)) {
  if (!text_.empty() && text_.back() != '\n') text_.push_back('\n');
}

Status Status::fromErrno(int error) {
  return error == ENOENT ? notFound(std::strerror(error)) : system(std::strerror(error));
}

}  // namespace tandrel
