// The reply reader on control-connection text as servers send it, fed whole and
// one byte at a time.
#include "storage/reply_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tandrel {
namespace {

// One conversation: lines starting with "> " are commands the client sent,
// everything else arrives from the server as it stands.
struct Conversation {
  const char* about;
  std::vector<std::string> events;
  // Each reply as "code <command> [inner|lines] text".
  std::vector<std::string> replies;
};

std::string render(const Reply& reply) {
  std::string inner;
  for (std::string_view line : innerLines(reply)) {
    inner += (inner.empty() ? "" : "|") + std::string(line);
  }
  return std::to_string(reply.code) + " <" + reply.command + "> [" + inner + "] " + reply.text;
}

std::vector<std::string> replay(const Conversation& conversation, bool byteByByte) {
  ReplyReader reader;
  reader.feed("421 left over from the last perform\r\n");
  reader.reset();
  for (const std::string& event : conversation.events) {
    if (event.starts_with("> ")) {
      reader.sent(event.substr(2) + "\r\n");
    } else if (!byteByByte) {
      reader.feed(event);
    } else {
      for (char c : event) reader.feed(std::string_view(&c, 1));
    }
  }
  std::vector<std::string> rendered;
  for (const Reply& reply : reader.replies()) rendered.push_back(render(reply));
  return rendered;
}

const Conversation kConversations[] = {
    {"one line", {"220 Ready\r\n"}, {"220 <> [] 220 Ready\n"}},
    {"a line end without CR", {"220 Ready\n"}, {"220 <> [] 220 Ready\n"}},
    {"a bare code closes", {"> NOOP", "200\r\n"}, {"200 <NOOP> [] 200\n"}},
    {"multi-line reply kept whole",
     {"> FEAT", "211-Features:\r\n MLST type*;\r\n UTF8\r\n211 End\r\n"},
     {"211 <FEAT> [ MLST type*;| UTF8] 211-Features:\n MLST type*;\n UTF8\n211 End\n"}},
    {"inner lines that look like other replies",
     {"> STAT /a", "213-Status follows:\r\n250 x\r\n213-y\r\n213\tz\r\n213 End\r\n"},
     {"213 <STAT /a> [250 x|213-y|213\tz] 213-Status follows:\n250 x\n213-y\n213\tz\n213 End\n"}},
    {"a CR inside a line belongs to the line",
     {"> STAT /d", "213-S\r\n-rw- 1 u g 1 Jan 1 2020 Icon\r\r\n213 E\r\n"},
     {"213 <STAT /d> [-rw- 1 u g 1 Jan 1 2020 Icon\r] 213-S\n-rw- 1 u g 1 Jan 1 2020 Icon\r\n213 E\n"}},
    {"each reply answers the command before it",
     {"> CWD /a", "250 OK\r\n", "> PWD", "257 \"/a\" is here\r\n"},
     {"250 <CWD /a> [] 250 OK\n", "257 <PWD> [] 257 \"/a\" is here\n"}},
    {"several replies in one piece",
     {"> RNFR a", "350 Ready\r\n250 Renamed\r\n"},
     {"350 <RNFR a> [] 350 Ready\n", "250 <RNFR a> [] 250 Renamed\n"}},
    {"text without a code is dropped",
     {"welcome banner\r\n", "600 not a code\r\n", "2x0 nor this\r\n", "220 Ready\r\n"},
     {"220 <> [] 220 Ready\n"}},
    {"an unfinished line is no reply yet", {"220 Rea"}, {}},
    {"an unfinished multi-line reply is no reply yet", {"211-Features:\r\n MLST\r\n"}, {}},
};

TEST(ReplyReader, ReadsEachConversationWholeAndInPieces) {
  for (const Conversation& conversation : kConversations) {
    SCOPED_TRACE(conversation.about);
    EXPECT_EQ(replay(conversation, false), conversation.replies);
    EXPECT_EQ(replay(conversation, true), conversation.replies);
  }
}

TEST(ReplyReader, SplitLinesCountsALastLineWithoutItsEnd) {
  EXPECT_EQ(splitLines("a\n\nb"), (std::vector<std::string_view>{"a", "", "b"}));
  EXPECT_EQ(splitLines("a\n"), (std::vector<std::string_view>{"a"}));
  EXPECT_TRUE(splitLines("").empty());
}

}  // namespace
}  // namespace tandrel
