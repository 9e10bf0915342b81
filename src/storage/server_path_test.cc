// Path arithmetic on server names and the reading of PWD replies.
#include "storage/server_path.h"

#include <gtest/gtest.h>

#include <string>

namespace tandrel {
namespace {

struct Resolution {
  const char* current;
  const char* name;
  const char* expected;
};

const Resolution kResolutions[] = {
    {"/", "a", "/a"},
    {"/a", "b", "/a/b"},
    {"/a", "b/c", "/a/b/c"},
    {"/a/b", "..", "/a"},
    {"/a", "..", "/"},
    {"/", "..", "/"},
    {"/", "../../x", "/x"},
    {"/a", "/x/y", "/x/y"},
    {"/a", "/", "/"},
    {"/a", "", "/a"},
    {"/a", ".", "/a"},
    {"/a", "./b//c/", "/a/b/c"},
    {"/a/b", "../c", "/a/c"},
    {"/a", "...", "/a/..."},
    {"/a", " b ", "/a/ b "},
    {"/", "/srv//ftp/./u/", "/srv/ftp/u"},
};

TEST(ServerPath, ResolvesNamesAgainstTheCurrentDirectory) {
  for (const Resolution& row : kResolutions) {
    SCOPED_TRACE(std::string(row.current) + " + " + row.name);
    EXPECT_EQ(resolvePath(row.current, row.name), row.expected);
  }
}

TEST(ServerPath, ChildAndAncestor) {
  EXPECT_EQ(childPath("/", "a"), "/a");
  EXPECT_EQ(childPath("/a", "b"), "/a/b");
  EXPECT_TRUE(isAncestorOrSelf("/", "/a"));
  EXPECT_TRUE(isAncestorOrSelf("/a", "/a"));
  EXPECT_TRUE(isAncestorOrSelf("/a", "/a/b"));
  EXPECT_FALSE(isAncestorOrSelf("/a", "/ab"));
  EXPECT_FALSE(isAncestorOrSelf("/a/b", "/a"));
}

struct PwdReply {
  int code;
  const char* text;
  bool read;
  const char* path;
};

const PwdReply kPwdReplies[] = {
    {257, "257 \"/home/u\" is the current directory.\n", true, "/home/u"},
    {257, "257 \"/\"\n", true, "/"},
    {257, "257 \"/a \"\"quoted\"\" dir\" is current.\n", true, "/a \"quoted\" dir"},
    {257, "257 \"/ends with quote\"\"\"\n", true, "/ends with quote\""},
    {257, "257 \"/with spaces \"\n", true, "/with spaces "},
    {257, "257-\"/first\" line\n257 \"/second\"\n", true, "/first"},
    {257, "257 /home/u is the current directory.\n", false, ""},
    {257, "257 \"relative/dir\"\n", false, ""},
    {257, "257 \"/unclosed\n", false, ""},
    {257, "257 \"\"\n", false, ""},
    {250, "250 \"/home/u\"\n", false, ""},
    {257, "", false, ""},
};

TEST(ServerPath, ReadsThePathOfAPwdReply) {
  for (const PwdReply& row : kPwdReplies) {
    SCOPED_TRACE(row.text);
    std::string path;
    EXPECT_EQ(readPwdReply(Reply{row.code, row.text, "PWD"}, path), row.read);
    if (row.read) {
      EXPECT_EQ(path, row.path);
    }
  }
}

TEST(ServerPath, NamesThatCannotBeSentAsTheyStand) {
  EXPECT_TRUE(hasLineBreakOrNul("a\rb"));
  EXPECT_TRUE(hasLineBreakOrNul("a\n"));
  EXPECT_TRUE(hasLineBreakOrNul(std::string_view("a\0b", 3)));
  EXPECT_FALSE(hasLineBreakOrNul("a b\t"));
  for (const char* name : {"a*", "?", "[x]", "{a,b}", "a\\b"}) {
    EXPECT_TRUE(hasPatternCharacters(name)) << name;
  }
  for (const char* name : {"plain", "a-b_c.d", "a b", "#%;"}) {
    EXPECT_FALSE(hasPatternCharacters(name)) << name;
  }
}

}  // namespace
}  // namespace tandrel
