#include "console/reporter.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "console/output.h"

namespace tandrel {

namespace {

// 256 bytes with the terminating NUL, as the text has always been sized.
constexpr size_t kErrorTextCapacity = 255;

// The text a report ends with: the status's, cut to fit, ending its line
// exactly once; or empty.
std::string errorTextOf(const Status& status) {
  std::string text = status.text();
  if (text.empty()) return text;
  if (text.size() > kErrorTextCapacity) text.resize(kErrorTextCapacity - 1);
  if (text.back() != '\n') text.push_back('\n');
  return text;
}

std::string formatted(const char* format, va_list arguments) {
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
  return message;
}

void print(std::string message, const std::string& text) {
  if (text.empty()) {
    message += ".\n";
  } else {
    message += " - ";
    message += text;
  }
  outText(message);
}

}  // namespace

void Reporter::error(const Status& status, const char* format, ...) {
  ++problems_;
  va_list arguments;
  va_start(arguments, format);
  std::string message = formatted(format, arguments);
  va_end(arguments);
  print(std::move(message), errorTextOf(status));
}

void Reporter::error(const char* format, ...) {
  ++problems_;
  va_list arguments;
  va_start(arguments, format);
  std::string message = formatted(format, arguments);
  va_end(arguments);
  print(std::move(message), "");
}

}  // namespace tandrel
