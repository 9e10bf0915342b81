#include "state/entry.h"

#include <gtest/gtest.h>

#include <memory>

namespace tandrel {
namespace {

using enum EntryState;

std::unique_ptr<Entry> make(const std::string& name, int isDirectory = 0) {
  auto entry = std::make_unique<Entry>();
  entry->name = name;
  entry->isDirectory = isDirectory;
  return entry;
}

TEST(CompareEntries, OrdersFilesBeforeDirectoriesThenBytes) {
  struct Case {
    const char* a;
    int aDir;
    const char* b;
    int bDir;
    int expected;
  } cases[] = {
      {"zeta", 0, "alpha", 1, -1},  // every file before every directory
      {"alpha", 1, "zeta", 0, 1},
      {"Zebra", 0, "apple", 0, -1},  // 0x5A < 0x61: no locale
      {"a.txt", 0, "A.txt", 0, 1},   // case matters
      {"abc", 0, "abc", 0, 0},
      {"ab", 0, "abc", 0, -1},  // the terminating NUL sorts first
      {"abc", 0, "ab", 0, 1},
      {"\xe9t\xe9", 0, "zoo", 0, 1},  // bytes 0x80 and up after ASCII
      {"d", 1, "d", 1, 0},
  };
  for (const Case& c : cases) {
    auto a = make(c.a, c.aDir);
    auto b = make(c.b, c.bDir);
    EXPECT_EQ(compareEntries(a.get(), b.get()), c.expected) << c.a << " vs " << c.b;
  }
}

TEST(CompareEntries, AbsentEntrySortsLast) {
  auto a = make("a");
  EXPECT_EQ(compareEntries(nullptr, a.get()), 1);
  EXPECT_EQ(compareEntries(a.get(), nullptr), -1);
  EXPECT_EQ(compareEntries(nullptr, nullptr), 1);
}

TEST(CommitEntry, FollowsTheOutcomeTable) {
  struct Case {
    EntryState before;
    int ok;
    EntryState after;
    int touched;
  } cases[] = {
      {Deleted, 1, Dropped, 1}, {New, 1, New, 1},         {Changed, 1, Changed, 1},
      {Unchanged, 1, Unchanged, 1}, {Dropped, 1, Dropped, 1}, {New, 0, Dropped, 0},
      {Dropped, 0, Unchanged, 0}, {Unchanged, 0, Unchanged, 0}, {Deleted, 0, Unchanged, 0},
      {Changed, 0, Unchanged, 0},
  };
  for (const Case& c : cases) {
    auto entry = make("x");
    entry->state = c.before;
    entry->touched = c.ok ? 0 : 1;
    commitEntry(entry.get(), c.ok);
    EXPECT_EQ(entry->state, c.after) << "from " << static_cast<int>(c.before) << " with " << c.ok;
    EXPECT_EQ(entry->touched, c.touched);
  }
  commitEntry(nullptr, true);  // nothing happens, nothing breaks
}

TEST(Entry, CopyKeepsNameAndKindButNotTheTime) {
  auto source = make("dir", 1);
  source->writeTime = 123456789;
  source->state = Changed;
  source->touched = 1;
  std::unique_ptr<Entry> copy = Entry::copyOf(*source);
  EXPECT_EQ(copy->name, "dir");
  EXPECT_EQ(copy->isDirectory, 1);
  EXPECT_EQ(copy->writeTime, 0u);
  EXPECT_EQ(copy->state, Dropped);
  EXPECT_EQ(copy->touched, 0);
}

}  // namespace
}  // namespace tandrel
