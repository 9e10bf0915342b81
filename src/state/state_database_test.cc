#include "state/state_database.h"

#include <gtest/gtest.h>

#include <memory>

#include "console/error_text.h"
#include "storage/local_posix.h"
#include "storage/reserved_names.h"
#include "support/faulty_sides.h"
#include "support/scoped_directory.h"
#include "support/temp_tree.h"

namespace tandrel {
namespace {

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

Entry* entry(const std::string& name, FileTime time, int isDirectory, EntryState state,
             int touched = 0) {
  Entry* e = new Entry;
  e->name = name;
  e->writeTime = time;
  e->isDirectory = isDirectory;
  e->state = state;
  e->touched = touched;
  return e;
}

TEST(DatabaseFormat, EncodesExactBytes) {
  std::unique_ptr<Entry> list(entry("ab", 0x0000000200000001ULL, 0, Unchanged));
  list->next = entry("gone", 99, 0, Dropped);
  list->next->next = entry("d", 0, 1, New);
  EXPECT_EQ(encodeDatabase(list.get()), kTwoRecords);
  EXPECT_EQ(encodeDatabase(nullptr), kEmpty);
  EXPECT_EQ(kEmpty.size(), 17u);
}

TEST(DatabaseFormat, DecodesWhatItEncodes) {
  Entry* list = nullptr;
  ASSERT_TRUE(decodeDatabase(kTwoRecords, list));
  std::unique_ptr<Entry> owner(list);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->name, "ab");
  EXPECT_EQ(list->writeTime, 0x0000000200000001ULL);
  EXPECT_EQ(list->isDirectory, 0);
  EXPECT_EQ(list->state, Dropped);
  ASSERT_NE(list->next, nullptr);
  EXPECT_EQ(list->next->name, "d");
  EXPECT_EQ(list->next->isDirectory, 1);
  EXPECT_EQ(list->next->next, nullptr);
}

TEST(DatabaseFormat, EveryTruncationFails) {
  for (size_t length = 0; length < kTwoRecords.size(); ++length) {
    Entry* list = reinterpret_cast<Entry*>(1);
    EXPECT_FALSE(decodeDatabase(kTwoRecords.substr(0, length), list)) << "length " << length;
    EXPECT_EQ(list, nullptr);
  }
}

TEST(DatabaseFormat, WrongMagicIsAnEmptyDatabase) {
  Entry* list = nullptr;
  EXPECT_TRUE(decodeDatabase("OTHERDATABASE15", list));
  EXPECT_EQ(list, nullptr);
  EXPECT_TRUE(decodeDatabase("OTHERDATABASE15 and then anything", list));
  EXPECT_EQ(list, nullptr);
  EXPECT_FALSE(decodeDatabase("TANDREL", list));  // shorter than the magic
}

TEST(DatabaseFormat, HostileLengthsAndFlagsAreHarmless) {
  // A length far beyond the file, and a flag that is neither 0 nor 1.
  Entry* list = nullptr;
  EXPECT_FALSE(decodeDatabase(std::string("TANDRELDATABASE\xff\xff" "abc", 20), list));
  std::string odd = std::string("TANDRELDATABASE") +
                    std::string("\x01\x00" "x" "\0\0\0\0\0\0\0\0" "\x07\x00\x00\x00", 15) +
                    std::string("\0\0", 2);
  ASSERT_TRUE(decodeDatabase(odd, list));
  std::unique_ptr<Entry> owner(list);
  EXPECT_EQ(list->isDirectory, 1);
}

TEST(DatabaseFormat, PlaceholderTimeZeroSurvives) {
  std::unique_ptr<Entry> list(entry("kept", 0, 0, Unchanged));
  Entry* back = nullptr;
  ASSERT_TRUE(decodeDatabase(encodeDatabase(list.get()), back));
  std::unique_ptr<Entry> owner(back);
  EXPECT_EQ(back->writeTime, 0u);
}

class DatabaseFiles : public ::testing::Test {
 protected:
  TempTree tree;
  ScopedDirectory here{tree.path()};
  PosixLocalSide local;
  StateDatabase database;
};

TEST_F(DatabaseFiles, MissingFileLoadsEmptyAndClearsTheErrorText) {
  Entry* list = reinterpret_cast<Entry*>(1);
  EXPECT_TRUE(database.load(local, true, list));
  EXPECT_EQ(list, nullptr);
  EXPECT_TRUE(errorText().empty());
}

TEST_F(DatabaseFiles, SavesOnlyWhenSomethingIsTouched) {
  std::unique_ptr<Entry> list(entry("a", 5, 0, Unchanged));
  database.save(local, list.get(), true);
  EXPECT_FALSE(tree.exists("zztandrel.zzlocaldb"));
  list->state = Dropped;
  list->touched = 1;
  database.save(local, list.get(), false);
  EXPECT_EQ(tree.read("zztandrel.zzserverdb"), kEmpty);
  EXPECT_FALSE(tree.exists(temporaryName()));
}

TEST_F(DatabaseFiles, FailedSaveWarnsAndKeepsTheOldFile) {
  tree.write("zztandrel.zzlocaldb", kTwoRecords);
  FaultyLocalSide faulty(local);
  faulty.replaceFileFault.arm();
  std::unique_ptr<Entry> list(entry("a", 5, 0, New, 1));
  ::testing::internal::CaptureStdout();
  database.save(faulty, list.get(), true);
  std::string output = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(faulty.replaceFileFault.fired, 1);
  EXPECT_EQ(output, "Warning: Can't save local database file - Injected failure\n");
  EXPECT_EQ(tree.read("zztandrel.zzlocaldb"), kTwoRecords);
}

TEST_F(DatabaseFiles, TruncatedFileFailsToLoad) {
  tree.write("zztandrel.zzserverdb", kTwoRecords.substr(0, kTwoRecords.size() - 1));
  Entry* list = nullptr;
  EXPECT_FALSE(database.load(local, false, list));
  EXPECT_EQ(list, nullptr);
}

}  // namespace
}  // namespace tandrel
