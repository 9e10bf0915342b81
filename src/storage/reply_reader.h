// The replies on an FTP control connection: the incoming text cut into whole
// replies (a multi-line reply, "213-" ... "213 ", kept as one), each with its
// code and the command it answers. Pure: no I/O.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tandrel {

// One complete server reply: its code and all its lines, each ending in one
// "\n" (a line end's own CR removed, any other CR kept).
struct Reply {
  int code = 0;
  std::string text;
  std::string command;  // the command line sent last before it, CR LF removed
};

inline bool isPositive(int code) { return code >= 200 && code < 300; }

// Whether `line` starts with a reply code (a digit 1-5 and two more digits).
bool hasReplyCode(std::string_view line);

// The lines of `text`, without their "\n"; a last line without one counts too.
std::vector<std::string_view> splitLines(std::string_view text);

// The lines between the first and the last line of a multi-line reply; none
// for a one-line reply.
std::vector<std::string_view> innerLines(const Reply& reply);

// Gathers the control connection's lines, as they arrive in pieces of any
// size, into replies. Text before the first reply code and lines between
// replies that carry no code are dropped.
class ReplyReader {
 public:
  // Forgets every reply and any unfinished line.
  void reset();
  // A command went out. The client waits for each reply before its next
  // command, so a reply answers the command sent last before it began.
  void sent(std::string_view commandLine);
  // More incoming text.
  void feed(std::string_view data);
  // The replies completed so far, oldest first.
  const std::vector<Reply>& replies() const { return replies_; }

 private:
  void addLine(std::string_view line);

  std::vector<Reply> replies_;
  std::string partial_;
  Reply open_;
  bool inMultiLine_ = false;
  std::string command_;
};

}  // namespace tandrel
