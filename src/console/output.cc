#include "console/output.h"

#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <string>

namespace tandrel {

namespace {
bool statusShown = false;

void eraseStatus() {
  if (!statusShown) return;
  std::fputs("\r\033[K", stdout);
  statusShown = false;
}
}  // namespace

void out(const char* format, ...) {
  eraseStatus();
  va_list arguments;
  va_start(arguments, format);
  std::vfprintf(stdout, format, arguments);
  va_end(arguments);
  std::fflush(stdout);
}

void outText(std::string_view text) {
  eraseStatus();
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
  statusShown = true;
}

void clearStatusLine() {
  eraseStatus();
  std::fflush(stdout);
}

}  // namespace tandrel
