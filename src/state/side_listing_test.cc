#include "state/side_listing.h"

#include <gtest/gtest.h>

#include <ctime>

#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "state/run_state.h"
#include "support/scoped_directory.h"
#include "support/temp_tree.h"
#include "support/test_run.h"

namespace tandrel {
namespace {

using testing::ScopedDirectory;
using testing::TempTree;

// "name:state" for every entry, in list order; directories end in '/'.
std::string describe(const SideListing& listing) {
  std::string text;
  for (const Entry& e : listing.entries()) {
    if (!text.empty()) text += ' ';
    text += e.name + (e.isDirectory ? "/" : "") + ":" +
            std::to_string(static_cast<int>(e.state));
  }
  return text;
}

class LocalListing : public ::testing::Test {
 protected:
  // Lists the tree and saves a database in which everything is recorded.
  void recordEverything() {
    SideListing listing(run, true);
    ASSERT_TRUE(listing.open(""));
    for (Entry& e : listing.entries()) commitEntry(&e, true);
    listing.close();
  }
  TempTree tree;
  ScopedDirectory here{tree.path()};
  testing::TestRun sides;
  tandrel::Run& run = sides.run;
};

TEST_F(LocalListing, FirstListingIsAllNewFilesThenDirectories) {
  tree.write("b", "1");
  tree.write("A", "1");
  tree.mkdir("a-dir");
  tree.write(".hidden", "1");
  tree.write("zztandrel.zzserverdb", "not ours to list");
  tree.write("zztandrel.zztemp", "left by a killed run", 1000);
  const std::string inUse = "zztandrel.zztemp.host.0123456789abcdef.7." +
                            std::to_string(std::time(nullptr) - 3600) + ".0009";
  tree.write(inUse, "another machine's run, in use");
  tree.write("zztandrel.zztemp.host.0123456789abcdef.7.8.0009", "another machine's, old");
  tree.write("zztandrel.zztemplate.txt", "a file like any other");
  SideListing listing(run, true);
  ASSERT_TRUE(listing.open(""));
  EXPECT_EQ(describe(listing), ".hidden:2 A:2 b:2 zztandrel.zztemplate.txt:2 a-dir/:2");
  EXPECT_FALSE(tree.exists("zztandrel.zztemp")) << "abandoned for more than a day";
  EXPECT_TRUE(tree.exists(inUse));
  EXPECT_FALSE(tree.exists("zztandrel.zztemp.host.0123456789abcdef.7.8.0009"))
      << "more than a day old by the time in its name";
}

TEST_F(LocalListing, MergeMarksChangedDeletedAndKeepsTheOlderTime) {
  tree.write("same", "1", 1000);
  tree.write("changed", "1", 1000);
  tree.write("older", "1", 1000);
  tree.write("gone", "1", 1000);
  tree.mkdir("dir");
  recordEverything();
  tree.setMtime("changed", 2000);
  tree.setMtime("older", 500);
  tree.remove("gone");
  tree.write("fresh", "1");
  SideListing listing(run, true);
  ASSERT_TRUE(listing.open(""));
  EXPECT_EQ(describe(listing), "changed:4 fresh:2 gone:3 older:1 same:1 dir/:1");
  auto entries = listing.entries();
  EXPECT_EQ(entries[0].writeTime, 116444736000000000ULL + 1000ULL * 10000000);  // the recorded one
  EXPECT_EQ(entries[3].writeTime, 116444736000000000ULL + 500ULL * 10000000);   // its own
  EXPECT_EQ(entries[2].writeTime, 0u);                                          // placeholder
}

TEST_F(LocalListing, FileAndDirectoryOfOneNameAreNeverPaired) {
  tree.mkdir("x");
  recordEverything();
  tree.remove("x");
  tree.write("x", "now a file");
  SideListing listing(run, true);
  ASSERT_TRUE(listing.open(""));
  EXPECT_EQ(describe(listing), "x:2 x/:3");
}

TEST_F(LocalListing, CursorWalksFilesThenDirectories) {
  tree.mkdir("d1");
  tree.mkdir("d2");
  SideListing listing(run, true);
  ASSERT_TRUE(listing.open(""));
  EXPECT_EQ(listing.first(EntryKind::files), nullptr);  // only directories
  EXPECT_EQ(listing.next(EntryKind::files), nullptr);   // does not move past a directory
  Entry* d1 = listing.first(EntryKind::directories);
  ASSERT_NE(d1, nullptr);
  EXPECT_EQ(d1->name, "d1");
  EXPECT_EQ(listing.next(EntryKind::directories)->name, "d2");
  EXPECT_EQ(listing.next(EntryKind::directories), nullptr);
}

TEST_F(LocalListing, InsertAtCursorKeepsTheCurrentEntryCurrent) {
  tree.write("b", "1");
  SideListing listing(run, true);
  ASSERT_TRUE(listing.open(""));
  Entry* b = listing.first(EntryKind::files);
  auto a = std::make_unique<Entry>();
  a->name = "a";
  Entry* inserted = listing.insertAtCursor(std::move(a));
  EXPECT_EQ(listing.first(EntryKind::files), b);
  EXPECT_EQ(&listing.entries()[0], inserted);
  EXPECT_EQ(listing.next(EntryKind::files), nullptr);
  auto c = std::make_unique<Entry>();
  c->name = "c";
  listing.insertAtCursor(std::move(c));  // at the end of the list
  EXPECT_EQ(describe(listing), "a:0 b:2 c:0");
  EXPECT_EQ(listing.first(EntryKind::files), nullptr);
}

TEST_F(LocalListing, EntriesHeldByTheWalkSurviveInsertions) {
  for (char name = 'b'; name <= 'k'; ++name) tree.write(std::string(1, name), "1");
  SideListing listing(run, true);
  ASSERT_TRUE(listing.open(""));
  std::vector<Entry*> held;
  for (Entry* e = listing.first(EntryKind::files); e != nullptr;
       e = listing.next(EntryKind::files)) {
    held.push_back(e);
    // Enough insertions before each to outgrow any reserved room.
    for (int i = 0; i < 20; ++i) {
      auto copy = Entry::copyOf(*e);
      copy->name.insert(0, "0");
      listing.insertAtCursor(std::move(copy));
    }
    EXPECT_EQ(listing.first(EntryKind::files), e);
  }
  ASSERT_EQ(held.size(), 10u);
  for (size_t i = 0; i < held.size(); ++i) {
    EXPECT_EQ(held[i]->name, std::string(1, static_cast<char>('b' + i)));  // read through ASan
    EXPECT_EQ(&listing.entries()[21 * i + 20], held[i]);
  }
  auto first = std::make_unique<Entry>();
  first->name = "0";
  EXPECT_EQ(&listing.entries()[0], listing.insertSorted(std::move(first)));
  EXPECT_EQ(held[0]->name, "b");
}

TEST_F(LocalListing, EnteringAndLeavingASubdirectory) {
  tree.mkdir("sub");
  tree.write("sub/f", "1");
  {
    SideListing listing(run, true);
    ASSERT_TRUE(listing.open("sub"));
    EXPECT_EQ(describe(listing), "f:2");
    commitEntry(&listing.entries()[0], true);
  }
  EXPECT_TRUE(tree.exists("sub/zztandrel.zzlocaldb"));
  EXPECT_FALSE(tree.exists("zztandrel.zzlocaldb"));
  SideListing again(run, true);
  ASSERT_TRUE(again.open(""));  // back where we started
  EXPECT_EQ(describe(again), "sub/:2");
}

TEST_F(LocalListing, MissingDirectoryIsReported) {
  SideListing listing(run, true);
  ::testing::internal::CaptureStdout();
  EXPECT_FALSE(listing.open("nowhere"));
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "Error: Can't change local directory to 'nowhere' - No such file or directory\n");
}

TEST_F(LocalListing, NamesWithLineBreaksAndSpecialFilesAreSkippedWithAMessage) {
  tree.write("line\nbreak", "1");
  tree.write("fine", "1");
  ASSERT_EQ(mkfifo("pipe", 0600), 0);
  ASSERT_EQ(symlink("nowhere", "dangling"), 0);
  SideListing listing(run, true);
  ::testing::internal::CaptureStdout();
  ASSERT_TRUE(listing.open(""));
  std::string output = ::testing::internal::GetCapturedStdout();
  // Each skipped name holds its place, for files and directories, unrecorded.
  EXPECT_EQ(describe(listing),
            "dangling:0 fine:2 line\nbreak:0 pipe:0 dangling/:0 line\nbreak/:0 pipe/:0");
  EXPECT_NE(output.find("Error: Skipping 'line\\nbreak' on local: its name holds a line break\n"),
            std::string::npos)
      << output;
  EXPECT_NE(output.find("Warning: Skipping 'pipe' on local"), std::string::npos) << output;
  EXPECT_NE(output.find("Warning: Skipping 'dangling' on local"), std::string::npos) << output;
}

TEST_F(LocalListing, DamagedDatabaseWarnsAndEverythingIsNew) {
  tree.write("a", "1");
  tree.write("zztandrel.zzlocaldb", "TANDRELDATABASE\x01");
  SideListing listing(run, true);
  ::testing::internal::CaptureStdout();
  ASSERT_TRUE(listing.open(""));
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "Warning: Can't load local database file 'zztandrel.zzlocaldb'.\n");
  EXPECT_EQ(describe(listing), "a:2");
}

}  // namespace
}  // namespace tandrel
