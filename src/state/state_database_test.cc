#include "state/state_database.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>

#include "console/reporter.h"
#include "storage/local_posix.h"
#include "storage/reserved_names.h"
#include "support/faulty_sides.h"
#include "support/scoped_directory.h"
#include "support/temp_tree.h"

namespace tandrel {
namespace {

using enum EntryState;

using testing::FaultyLocalSide;
using testing::ScopedDirectory;
using testing::TempTree;

const std::string kEmpty = std::string("TANDRELDATABASE") + std::string("\0\0", 2);

// One record of a file "ab" at time 0x0000000200000001, then a directory "d".
const std::string kTwoRecords = std::string("TANDRELDATABASE") +
                                std::string("\x02\x00" "ab" "\x01\x00\x00\x00" "\x02\x00\x00\x00"
                                            "\x00\x00\x00\x00",
                                            16) +
                                std::string("\x01\x00" "d" "\x00\x00\x00\x00" "\x00\x00\x00\x00"
                                            "\x01\x00\x00\x00",
                                            15) +
                                std::string("\0\0", 2);

std::unique_ptr<Entry> entry(const std::string& name, FileTime time, int isDirectory,
                             EntryState state, int touched = 0) {
  auto e = std::make_unique<Entry>();
  e->name = name;
  e->writeTime = time;
  e->isDirectory = isDirectory;
  e->state = state;
  e->touched = touched;
  return e;
}

template <typename... Entries>
EntryList listOf(Entries... entries) {
  EntryList list;
  (list.push_back(std::move(entries)), ...);
  return list;
}

TEST(DatabaseFormat, EncodesExactBytes) {
  EntryList list = listOf(entry("ab", 0x0000000200000001ULL, 0, Unchanged),
                          entry("gone", 99, 0, Dropped), entry("d", 0, 1, New));
  EXPECT_EQ(encodeDatabase(list), kTwoRecords);
  EXPECT_EQ(encodeDatabase(EntryList()), kEmpty);
  EXPECT_EQ(kEmpty.size(), 17u);
}

TEST(DatabaseFormat, DecodesWhatItEncodes) {
  EntryList list;
  ASSERT_TRUE(decodeDatabase(kTwoRecords, list));
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0]->name, "ab");
  EXPECT_EQ(list[0]->writeTime, 0x0000000200000001ULL);
  EXPECT_EQ(list[0]->isDirectory, 0);
  EXPECT_EQ(list[0]->state, Dropped);
  EXPECT_EQ(list[1]->name, "d");
  EXPECT_EQ(list[1]->isDirectory, 1);
}

TEST(DatabaseFormat, EveryTruncationFails) {
  for (size_t length = 0; length < kTwoRecords.size(); ++length) {
    EntryList list = listOf(entry("stale", 0, 0, New));
    EXPECT_FALSE(decodeDatabase(kTwoRecords.substr(0, length), list)) << "length " << length;
    EXPECT_TRUE(list.empty());
  }
}

TEST(DatabaseFormat, WrongMagicIsAnEmptyDatabase) {
  EntryList list;
  EXPECT_TRUE(decodeDatabase("OTHERDATABASE15", list));
  EXPECT_TRUE(list.empty());
  EXPECT_TRUE(decodeDatabase("OTHERDATABASE15 and then anything", list));
  EXPECT_TRUE(list.empty());
  EXPECT_FALSE(decodeDatabase("TANDREL", list));  // shorter than the magic
}

TEST(DatabaseFormat, HostileLengthsAndFlagsAreHarmless) {
  // A length far beyond the file, and a flag that is neither 0 nor 1.
  EntryList list;
  EXPECT_FALSE(decodeDatabase(std::string("TANDRELDATABASE\xff\xff" "abc", 20), list));
  std::string odd = std::string("TANDRELDATABASE") +
                    std::string("\x01\x00" "x" "\0\0\0\0\0\0\0\0" "\x07\x00\x00\x00", 15) +
                    std::string("\0\0", 2);
  ASSERT_TRUE(decodeDatabase(odd, list));
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0]->isDirectory, 1);
}

TEST(DatabaseFormat, PlaceholderTimeZeroSurvives) {
  EntryList back;
  ASSERT_TRUE(decodeDatabase(encodeDatabase(listOf(entry("kept", 0, 0, Unchanged))), back));
  ASSERT_EQ(back.size(), 1u);
  EXPECT_EQ(back[0]->writeTime, 0u);
}

class DatabaseFiles : public ::testing::Test {
 protected:
  TempTree tree;
  ScopedDirectory here{tree.path()};
  PosixLocalSide local;
  Reporter report;
};

TEST_F(DatabaseFiles, MissingFileLoadsEmptyWithNothingUnread) {
  Status unread;
  std::optional<EntryList> list = loadDatabase(local, true, unread);
  ASSERT_TRUE(list.has_value());
  EXPECT_TRUE(list->empty());
  EXPECT_TRUE(unread.ok());
}

TEST_F(DatabaseFiles, SavesOnlyWhenSomethingIsTouched) {
  EntryList list = listOf(entry("a", 5, 0, Unchanged));
  EXPECT_TRUE(saveDatabase(local, true, list, report));
  EXPECT_FALSE(tree.exists("zztandrel.zzlocaldb"));
  list[0]->state = Dropped;
  list[0]->touched = 1;
  EXPECT_TRUE(saveDatabase(local, false, list, report));
  EXPECT_EQ(tree.read("zztandrel.zzserverdb"), kEmpty);
  EXPECT_FALSE(tree.exists(temporaryName()));
}

TEST_F(DatabaseFiles, FailedSaveWarnsAndKeepsTheOldFile) {
  tree.write("zztandrel.zzlocaldb", kTwoRecords);
  FaultyLocalSide faulty(local);
  faulty.replaceFileFault.arm();
  EntryList list = listOf(entry("a", 5, 0, New, 1));
  ::testing::internal::CaptureStdout();
  EXPECT_FALSE(saveDatabase(faulty, true, list, report));
  std::string output = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(faulty.replaceFileFault.fired, 1);
  EXPECT_EQ(report.problems(), 1);
  EXPECT_EQ(output, "Warning: Can't save local database file - Injected failure\n");
  EXPECT_EQ(tree.read("zztandrel.zzlocaldb"), kTwoRecords);
}

TEST_F(DatabaseFiles, UnreadableFileFailsAndSaysWhy) {
  tree.write("zztandrel.zzlocaldb", kTwoRecords);
  FaultyLocalSide faulty(local);
  faulty.readFileFault.arm("zztandrel.zzlocaldb");
  Status unread;
  const bool loaded = loadDatabase(faulty, true, unread).has_value();
  EXPECT_FALSE(loaded);
  EXPECT_EQ(unread.text(), "Injected failure\n");
}

TEST_F(DatabaseFiles, TruncatedFileFailsToLoadWholeOnesLoad) {
  Status unread;
  tree.write("zztandrel.zzserverdb", kTwoRecords.substr(0, kTwoRecords.size() - 1));
  EXPECT_FALSE(loadDatabase(local, false, unread).has_value());
  EXPECT_TRUE(unread.ok());
  tree.write("zztandrel.zzserverdb", kEmpty);
  std::optional<EntryList> list = loadDatabase(local, false, unread);
  ASSERT_TRUE(list.has_value());
  EXPECT_TRUE(list->empty());
  tree.write("zztandrel.zzserverdb", kTwoRecords);
  list = loadDatabase(local, false, unread);
  ASSERT_TRUE(list.has_value());
  ASSERT_EQ(list->size(), 2u);
  EXPECT_EQ((*list)[1]->name, "d");
}

}  // namespace
}  // namespace tandrel
