// Everything the tool says goes through here, to standard output, and is
// visible at once: each call flushes, so nothing waits in a buffer while the
// tool waits for the server or for a key.
#pragma once

#include <string_view>

namespace tandrel {

// printf-style output of one of the tool's messages.
void out(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Prints `text` as it is (a % in it is just a %).
void outText(std::string_view text);

// A one-line indicator (a transfer's progress) shown only on a terminal. The
// transfer that draws it erases it when it ends, before anything else is
// printed, so the tool's own lines stay exactly as they are and nothing of it
// reaches a pipe or a log. Both do nothing when the output is not a terminal.
bool outputIsTerminal();
void showStatusLine(std::string_view text);
void clearStatusLine();

}  // namespace tandrel
