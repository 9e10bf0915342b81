// CurlServerSide listings and look-ups against real servers on loopback.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "storage/file_time.h"
#include "storage/server_curl.h"
#include "support/curl_side_fixture.h"
#include "support/status_check.h"

namespace tandrel {
namespace {

using testing::byName;
using testing::CurlServerSideTest;
using testing::kOldTime;
using testing::names;
using testing::ServerKind;

// ---- listings ---------------------------------------------------------------

TEST_P(CurlServerSideTest, ListsFilesDirectoriesAndDotFiles) {
  put("plain.txt", "12345", kOldTime);
  put(".hidden", "x");
  put(" spaced name ", "yy");
  makeDirectory("sub");
  makeDirectory(".dotdir");
  std::vector<ListRecord> records;
  ASSERT_TRUE(succeeded(side_.list(records)));
  EXPECT_EQ(names(records), "[ spaced name ][.dotdir][.hidden][plain.txt][sub]");
  auto entries = byName(records);
  EXPECT_EQ(entries["plain.txt"].kind, RecordKind::file);
  EXPECT_EQ(entries["plain.txt"].size, 5);
  EXPECT_EQ(entries[" spaced name "].size, 2);
  EXPECT_EQ(entries["sub"].kind, RecordKind::directory);
  EXPECT_EQ(entries[".dotdir"].kind, RecordKind::directory);
  // MLSD gives seconds; a LIST line of an old file gives only the day.
  const int64_t expected = side_.supportsMlst() ? kOldTime : daysFromCivil(2020, 1, 15) * 86400;
  EXPECT_EQ(entries["plain.txt"].writeTime, fileTimeFromUnix(expected));
}

TEST_P(CurlServerSideTest, EmptyDirectoryListsNoEntries) {
  std::vector<ListRecord> records;
  ASSERT_TRUE(succeeded(side_.list(records)));
  EXPECT_TRUE(records.empty()) << names(records);
}

TEST_P(CurlServerSideTest, ListingOfAVanishedDirectoryFails) {
  makeDirectory("gone");
  ASSERT_TRUE(succeeded(side_.changeDirectory("gone")));
  // pyftpdlib finishes a CWD after replying and trips over a directory removed
  // in that moment; the answer to a second request shows it is done.
  std::vector<ListRecord> records;
  ASSERT_TRUE(succeeded(side_.list(records)));
  remove("gone");
  Status failure = side_.list(records);
  EXPECT_FALSE(failure.ok());
  EXPECT_EQ(failure.kind(), Status::Kind::refused);
  // 550 from the change into it, 501 from pyftpdlib's MLSD of the path.
  EXPECT_EQ(failure.text().substr(0, 4), GetParam() == ServerKind::pyftpdlib ? "501 " : "550 ")
      << failure.text();
  // A refused CWD cost the connection; the next request logs in again.
  ASSERT_TRUE(succeeded(side_.changeDirectory("..")));
  EXPECT_TRUE(succeeded(side_.list(records)));
}

TEST_P(CurlServerSideTest, ListsTheTrackedDirectoryNotTheServersIdea) {
  makeDirectory("one");
  makeDirectory("two");
  put("one/in-one", "1");
  put("two/in-two", "2");
  std::vector<ListRecord> records;
  ASSERT_TRUE(succeeded(side_.changeDirectory("one")));
  ASSERT_TRUE(succeeded(side_.list(records)));
  EXPECT_EQ(names(records), "[in-one]");
  ASSERT_TRUE(succeeded(side_.changeDirectory("../two")));
  ASSERT_TRUE(succeeded(side_.list(records)));
  EXPECT_EQ(names(records), "[in-two]");
}

TEST_P(CurlServerSideTest, RemovesTheDirectoryItLeftAndListsOnAfterwards) {
  makeDirectory("left/inner");
  std::vector<ListRecord> records;
  ASSERT_TRUE(succeeded(side_.changeDirectory("left/inner")));
  ASSERT_TRUE(succeeded(side_.changeDirectory("..")));
  ASSERT_TRUE(succeeded(side_.removeDirectory("inner")));
  ASSERT_TRUE(succeeded(side_.changeDirectory("..")));
  ASSERT_TRUE(succeeded(side_.removeDirectory("left")));
  ASSERT_TRUE(succeeded(side_.list(records)));
  EXPECT_EQ(names(records), "");
  ASSERT_TRUE(succeeded(upload("after", "x")));
  ASSERT_TRUE(succeeded(side_.list(records)));
  EXPECT_EQ(names(records), "[after]");
}

TEST_P(CurlServerSideTest, DirectoryJustCreatedListsEmptyAndItsParentListsIt) {
  std::vector<ListRecord> records;
  ASSERT_TRUE(succeeded(side_.createDirectory("fresh")));
  ASSERT_TRUE(succeeded(side_.changeDirectory("fresh")));
  ASSERT_TRUE(succeeded(side_.list(records)));
  EXPECT_EQ(names(records), "");
  ASSERT_TRUE(succeeded(upload("in-fresh", "x")));
  ASSERT_TRUE(succeeded(side_.list(records)));
  EXPECT_EQ(names(records), "[in-fresh]");
  ASSERT_TRUE(succeeded(side_.changeDirectory("..")));
  ASSERT_TRUE(succeeded(side_.list(records)));
  EXPECT_EQ(names(records), "[fresh]");
}

// ---- look-ups ---------------------------------------------------------------

TEST_P(CurlServerSideTest, LookUpGivesWhatTheListingGives) {
  put("file.txt", "abc", kOldTime);
  makeDirectory("dir");
  std::vector<ListRecord> records;
  ASSERT_TRUE(succeeded(side_.list(records)));
  auto listed = byName(records);
  for (const std::string name : {"file.txt", "dir"}) {
    ListRecord record;
    ASSERT_TRUE(succeeded(side_.lookUp(name, record))) << name;
    EXPECT_EQ(record.name, name);
    EXPECT_EQ(record.kind, listed[name].kind) << name;
    EXPECT_EQ(record.writeTime, listed[name].writeTime) << name;
  }
}

TEST_P(CurlServerSideTest, LookUpOfAMissingNameIsNotFound) {
  ListRecord record;
  Status failure = side_.lookUp("missing", record);
  EXPECT_FALSE(failure.ok());
  EXPECT_EQ(failure.kind(), Status::Kind::notFound);
  EXPECT_EQ(failure.text().back(), '\n');
}

TEST_P(CurlServerSideTest, LookUpTakesPatternCharactersLiterally) {
  put("a*b", "1");
  put("axb", "22");
  put("q?", "333");
  put("qq", "4444");
  put("x{b,c}y", "55555");
  put("xby", "666666");
  for (const auto& [name, size] :
       std::map<std::string, int64_t>{{"a*b", 1}, {"q?", 3}, {"x{b,c}y", 5}}) {
    ListRecord record;
    ASSERT_TRUE(succeeded(side_.lookUp(name, record))) << name;
    EXPECT_EQ(record.name, name);
    EXPECT_EQ(record.size, size) << name;
  }
  ListRecord record;
  Status failure = side_.lookUp("a*", record);
  EXPECT_FALSE(failure.ok());
  EXPECT_EQ(failure.kind(), Status::Kind::notFound);
}

TEST_P(CurlServerSideTest, LookUpOfADirectoryHoldingItsOwnNameFindsTheDirectory) {
  makeDirectory("same");
  put("same/same", "inner file");
  ListRecord record;
  ASSERT_TRUE(succeeded(side_.lookUp("same", record)));
  EXPECT_EQ(record.kind, RecordKind::directory);
}

}  // namespace
}  // namespace tandrel
