#include "console/error_text.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "console/output.h"

namespace tandrel {

namespace {
// 256 bytes with the terminating NUL, as the text has always been sized.
constexpr size_t kErrorTextCapacity = 255;

std::string text;
int problems = 0;
}  // namespace

std::string_view errorText() { return text; }

void setErrorText(const Status& status) {
  text.clear();
  if (status.ok()) return;
  text = status.text();
  if (text.empty()) return;
  // A report must end its line exactly once, also when the text is cut to fit.
  if (text.size() > kErrorTextCapacity) text.resize(kErrorTextCapacity - 1);
  if (text.back() != '\n') text.push_back('\n');
}

void reportError(const char* format, ...) {
  ++problems;
  va_list arguments;
  va_start(arguments, format);
  char stackBuffer[1024];
  va_list copy;
  va_copy(copy, arguments);
  int length = std::vsnprintf(stackBuffer, sizeof stackBuffer, format, copy);
  va_end(copy);
  std::string message;
  if (length >= 0 && static_cast<size_t>(length) < sizeof stackBuffer) {
    message.assign(stackBuffer, static_cast<size_t>(length));
  } else if (length >= 0) {
    message.resize(static_cast<size_t>(length) + 1);
    std::vsnprintf(message.data(), message.size(), format, arguments);
    message.resize(static_cast<size_t>(length));
  }
  va_end(arguments);
  if (text.empty()) {
    message += ".\n";
  } else {
    message += " - ";
    message += text;
  }
  outText(message);
}

void noteProblem() { ++problems; }

int problemsReported() { return problems; }

}  // namespace tandrel
