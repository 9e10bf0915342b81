#include "console/output.h"

#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <string>

namespace tandrel {

void out(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  std::vfprintf(stdout, format, arguments);
  va_end(arguments);
  std::fflush(stdout);
}

void outText(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

bool outputIsTerminal() {
  static const bool terminal = isatty(STDOUT_FILENO) == 1;
  return terminal;
}

void showStatusLine(std::string_view text) {
  if (!outputIsTerminal()) return;
  std::fputs("\r\033[K", stdout);
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

void clearStatusLine() {
  if (!outputIsTerminal()) return;
  std::fputs("\r\033[K", stdout);
  std::fflush(stdout);
}

}  // namespace tandrel
