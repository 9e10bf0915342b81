// The listing parsers on lines captured from pyftpdlib 1.5.7 and vsftpd 3.0.3
// (and the DOS style IIS sends), read against a fixed clock.
#include "storage/listing_parser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "storage/file_time.h"

namespace tandrel {
namespace {

int64_t utc(int64_t year, unsigned month, unsigned day, unsigned hour, unsigned minute,
            unsigned second = 0) {
  return daysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
}

// The moment the lines below were captured: 2026-12-07 06:21 UTC.
const int64_t kNow = utc(2026, 12, 7, 6, 21);

struct Expected {
  std::string line;
  std::string name;
  RecordKind kind;
  int64_t size;
  int64_t unixTime;
};

void PrintTo(const Expected& expected, std::ostream* out) { *out << '"' << expected.line << '"'; }

class ListLine : public ::testing::TestWithParam<Expected> {};

TEST_P(ListLine, ParsesNameKindSizeAndTime) {
  const Expected& expected = GetParam();
  ListRecord record;
  ASSERT_TRUE(parseListLine(expected.line, kNow, record));
  EXPECT_EQ(record.name, expected.name);
  EXPECT_EQ(record.kind, expected.kind);
  EXPECT_EQ(record.size, expected.size);
  EXPECT_EQ(record.writeTime, fileTimeFromUnix(expected.unixTime));
}

INSTANTIATE_TEST_SUITE_P(
    Vsftpd, ListLine,
    ::testing::Values(
        Expected{"-rw-r--r--    1 102      0               6 Dec 07 06:20 recent.txt", "recent.txt",
                 RecordKind::file, 6, utc(2026, 12, 7, 6, 20)},
        Expected{"-rw-r--r--    1 102      0               2 Dec 07 06:20  lead and trail ",
                 " lead and trail ", RecordKind::file, 2, utc(2026, 12, 7, 6, 20)},
        Expected{"-rw-r--r--    1 102      0               2 Dec 07 06:20 .hidden", ".hidden",
                 RecordKind::file, 2, utc(2026, 12, 7, 6, 20)},
        Expected{"drwxr-xr-x    2 102      0            4096 Dec 07 06:20 dir with space",
                 "dir with space", RecordKind::directory, 4096, utc(2026, 12, 7, 6, 20)},
        Expected{"-rw-r--r--    1 102      0               0 Jan 15  2020 old.txt", "old.txt",
                 RecordKind::file, 0, utc(2020, 1, 15, 0, 0)},
        Expected{"-rw-r--r--    1 102      0               0 Mar 01  2035 future.txt", "future.txt",
                 RecordKind::file, 0, utc(2035, 3, 1, 0, 0)},
        // A link's listed size is that of its text: unknown for the file.
        Expected{"lrwxrwxrwx    1 102      0              10 Dec 07 06:20 link -> recent.txt",
                 "link", RecordKind::file, -1, utc(2026, 12, 7, 6, 20)},
        Expected{"-rw-r--r--    1 102      0               2 Dec 07 06:20 we#ird%?name",
                 "we#ird%?name", RecordKind::file, 2, utc(2026, 12, 7, 6, 20)},
        Expected{"-rw-r--r--    1 102      0               2 Dec 07 06:21 -lead", "-lead",
                 RecordKind::file, 2, utc(2026, 12, 7, 6, 21)},
        Expected{"-rw-r--r--    1 102      0               2 Dec 07 06:21 a*b", "a*b",
                 RecordKind::file, 2, utc(2026, 12, 7, 6, 21)},
        Expected{"prw-r--r--    1 102      0               0 Dec 07 06:21 fifo", "fifo",
                 RecordKind::special, 0, utc(2026, 12, 7, 6, 21)}));

INSTANTIATE_TEST_SUITE_P(
    Pyftpdlib, ListLine,
    ::testing::Values(
        Expected{"-rw-r--r--   1 root     root            2 Dec 07 06:20  lead and trail ",
                 " lead and trail ", RecordKind::file, 2, utc(2026, 12, 7, 6, 20)},
        Expected{"lrwxrwxrwx   1 root     root           10 Dec 07 06:20 link -> recent.txt",
                 "link", RecordKind::file, -1, utc(2026, 12, 7, 6, 20)},
        // pyftpdlib shows a time, not a year, for a date in the future: the
        // year is inferred like any other.
        Expected{"-rw-r--r--   1 root     root            0 Mar 01 10:00 future.txt", "future.txt",
                 RecordKind::file, 0, utc(2026, 3, 1, 10, 0)},
        Expected{"-rw-r--r--   1 root     root            0 Jan 15  2020 old.txt", "old.txt",
                 RecordKind::file, 0, utc(2020, 1, 15, 0, 0)}));

// Styles of embedded, NAS and older servers.
INSTANTIATE_TEST_SUITE_P(
    OtherServers, ListLine,
    ::testing::Values(
        Expected{"-rw-r--r--   1 u g   5 2026-12-07 10:00 ok.txt", "ok.txt", RecordKind::file, 5,
                 utc(2026, 12, 7, 10, 0)},
        Expected{"-rw-r--r--    1 1026     users     7 2026-12-07 10:00:59  iso seconds",
                 " iso seconds", RecordKind::file, 7, utc(2026, 12, 7, 10, 0, 59)},
        Expected{"dr-xr-xr-x   2 root                  512 Apr  8  1994 no group dir",
                 "no group dir", RecordKind::directory, 512, utc(1994, 4, 8, 0, 0)},
        Expected{"-rw-r--r--   1 group domain user 531 Jan 29 03:26 domain file", "domain file",
                 RecordKind::file, 531, utc(2026, 1, 29, 3, 26)},
        Expected{"2002-09-02  18:48       <DIR>          dos iso dir", "dos iso dir",
                 RecordKind::directory, -1, utc(2002, 9, 2, 18, 48)},
        Expected{"12-07-2026  04:30PM                    5 dos long year", "dos long year",
                 RecordKind::file, 5, utc(2026, 12, 7, 16, 30)}));

INSTANTIATE_TEST_SUITE_P(
    Dos, ListLine,
    ::testing::Values(Expected{"12-07-26  04:30AM       <DIR>          name", "name",
                               RecordKind::directory, -1, utc(2026, 12, 7, 4, 30)},
                      Expected{"01-15-20  11:05PM                 1234 name with spaces.txt",
                               "name with spaces.txt", RecordKind::file, 1234,
                               utc(2020, 1, 15, 23, 5)},
                      Expected{"01-15-20  12:05AM                    7 midnight", "midnight",
                               RecordKind::file, 7, utc(2020, 1, 15, 0, 5)},
                      Expected{"01-15-20  12:05PM                    7 noon", "noon",
                               RecordKind::file, 7, utc(2020, 1, 15, 12, 5)},
                      Expected{"03-02-1999  17:45                   42 four-digit year",
                               "four-digit year", RecordKind::file, 42, utc(1999, 3, 2, 17, 45)},
                      Expected{"03-02-99  05:45PM                   42 nineties", "nineties",
                               RecordKind::file, 42, utc(1999, 3, 2, 17, 45)}));

// Only the protocol's own line end is taken off; a CR before it is the name's.
INSTANTIATE_TEST_SUITE_P(
    LineEnds, ListLine,
    ::testing::Values(Expected{"-rw-r--r-- 1 u g 0 Dec 07 06:20 Icon\r", "Icon\r",
                               RecordKind::file, 0, utc(2026, 12, 7, 6, 20)},
                      Expected{"-rw-r--r-- 1 u g 0 Dec 07 06:20 Icon\r\r\n", "Icon\r",
                               RecordKind::file, 0, utc(2026, 12, 7, 6, 20)},
                      Expected{"-rw-r--r-- 1 u g 0 Dec 07 06:20 plain\r\n", "plain",
                               RecordKind::file, 0, utc(2026, 12, 7, 6, 20)},
                      Expected{"-rw-r--r-- 1 u g 0 Dec 07 06:20 x -> y", "x -> y",
                               RecordKind::file, 0, utc(2026, 12, 7, 6, 20)}));

class MlsdLine : public ::testing::TestWithParam<Expected> {};

TEST_P(MlsdLine, ParsesNameKindSizeAndTime) {
  const Expected& expected = GetParam();
  ListRecord record;
  ASSERT_TRUE(parseMlsdLine(expected.line, record));
  EXPECT_EQ(record.name, expected.name);
  EXPECT_EQ(record.kind, expected.kind);
  EXPECT_EQ(record.size, expected.size);
  EXPECT_EQ(record.writeTime, fileTimeFromUnix(expected.unixTime));
}

INSTANTIATE_TEST_SUITE_P(
    Pyftpdlib, MlsdLine,
    ::testing::Values(
        Expected{"modify=20261207062049;perm=radfwMT;size=6;type=file;unique=fe00ga720b4; "
                 "recent.txt",
                 "recent.txt", RecordKind::file, 6, utc(2026, 12, 7, 6, 20, 49)},
        Expected{"modify=20261207062049;perm=radfwMT;size=2;type=file;unique=fe00ga720b6;  "
                 "lead and trail ",
                 " lead and trail ", RecordKind::file, 2, utc(2026, 12, 7, 6, 20, 49)},
        Expected{"modify=20261207062049;perm=eldfmMTcp;size=4096;type=dir;unique=fe00ga720b3; "
                 "dir with space",
                 "dir with space", RecordKind::directory, 4096, utc(2026, 12, 7, 6, 20, 49)},
        Expected{"modify=20261207062049;perm=radfwMT;size=2;type=file;unique=fe00ga720b5; "
                 ".hidden",
                 ".hidden", RecordKind::file, 2, utc(2026, 12, 7, 6, 20, 49)},
        Expected{"modify=20200115120000;perm=radfwMT;size=0;type=file;unique=fe00ga720b7; "
                 "old.txt\r\n",
                 "old.txt", RecordKind::file, 0, utc(2020, 1, 15, 12, 0)},
        // The entry line of an MLST reply: indented, and naming the path asked for.
        Expected{" modify=20261207062049;perm=radfwMT;size=6;type=file;unique=fe00ga720b4; "
                 "/recent.txt",
                 "/recent.txt", RecordKind::file, 6, utc(2026, 12, 7, 6, 20, 49)}));

INSTANTIATE_TEST_SUITE_P(
    OtherServers, MlsdLine,
    ::testing::Values(Expected{"Type=file;Size=3;Modify=20200115120000; upper case facts",
                               "upper case facts", RecordKind::file, 3, utc(2020, 1, 15, 12, 0)},
                      Expected{"type=OS.unix=symlink;modify=20200115120000; a link", "a link",
                               RecordKind::file, -1, utc(2020, 1, 15, 12, 0)},
                      Expected{"type=file;modify=20200115120000; semi;colon=name",
                               "semi;colon=name", RecordKind::file, -1, utc(2020, 1, 15, 12, 0)}));

TEST(MlsdLine, KeepsFractionalSeconds) {
  ListRecord record;
  ASSERT_TRUE(parseMlsdLine("type=file;modify=20200115120000.123; x", record));
  EXPECT_EQ(record.writeTime, fileTimeFromUnix(utc(2020, 1, 15, 12, 0), 123000000));
}

class RejectedMlsdLine : public ::testing::TestWithParam<std::string> {};

TEST_P(RejectedMlsdLine, IsNotAnEntry) {
  ListRecord record;
  EXPECT_FALSE(parseMlsdLine(GetParam(), record));
}

INSTANTIATE_TEST_SUITE_P(
    Malformed, RejectedMlsdLine,
    ::testing::Values("", "\r", "type=cdir;modify=20261207062049; .",
                      "type=pdir;modify=20261207062049; ..", "type=file;modify=20261207062049;",
                      "type=file;modify=20261207062049; ", "type=file;modify=2026; short time",
                      "type=file;modify=20261307062049; month 13", "type=file;size=12x; bad size",
                      "type=file;modify=20261207062049 no semicolon", "typefile; no equals",
                      "plain name"));

class RejectedListLine : public ::testing::TestWithParam<std::string> {};

TEST_P(RejectedListLine, IsNotAnEntry) {
  ListRecord record;
  EXPECT_FALSE(parseListLine(GetParam(), kNow, record));
}

INSTANTIATE_TEST_SUITE_P(
    Malformed, RejectedListLine,
    ::testing::Values(
        "", "total 8", "drwxr-xr-x    5 102      0            4096 Dec 07 06:20 .",
        "drwxr-xr-x    3 0        0            4096 Dec 07 06:20 ..",
        "-rw-r--r--    1 102      0               2 Dec 07 06:20",
        "-rw-r--r--    1 102      0               2 Dec 07 06:20 ",
        "-rw-r--r--    1 102      0               2 Foo 07 06:20 bad month",
        "-rw-r--r--    1 102      0               2 Dec 32 06:20 bad day",
        "-rw-r--r--    1 102      0               2 Feb 30  2020 no such date",
        "-rw-r--r--    1 102      0               2 Dec 07 24:20 bad hour",
        "-rw-r--r--    1 102      0              2x Dec 07 06:20 bad size",
        "?rw-r--r--    1 102      0               2 Dec 07 06:20 bad mode",
        "12-07-26  04:30AM       <DIR>          .", "13-07-26  04:30AM       <DIR>          x",
        "12-07-26  13:30PM                    5 x", "12-07-26  04:30AM                   5x x",
        "12-07-26  04:30AM                    5", "12/07/26  04:30AM                    5 x",
        // Entries the server could not stat, month-day dates, localised months.
        "-?????????  ? ?    ?       ?            ? name", "d?????????  ? ?  ?  ?  ? dir",
        "-rw-r--r--   1 root     other        531 09-26 13:45 06-unix-date file",
        "dr-xr-xr-x   2 root     other      2235 26. Juli, 20:10 datetest-ger dir",
        "-rw-r--r--   1 u g   5 2026-13-07 10:00 no month 13",
        // An owner named like a month, a numeric group and a four-digit size
        // also read as "Dec 07 20:38 notes.txt" of the year 1234.
        "-rw-r--r-- 1 jan 20 1234 Dec 07 20:38 notes.txt",
        "drwxr-xr-x 2 Dec 7 2020 Dec 07 20:38 photos", "-rw-r--r-- 1 u g 7 Jan 15  1234 old",
        "-rw-r--r-- 1 u g 7 Jan 15  2999 far", "01-15-1234  04:30AM  7 dos year",
        // The link "l" to "m -> m", or the link "l -> m" to "m".
        "lrwxrwxrwx 1 u g 1 Dec 07 06:20 l -> m -> m"));

TEST(ListLineYear, IsTheMostRecentDateNoMoreThanADayAhead) {
  ListRecord record;
  ASSERT_TRUE(parseListLine("-rw-r--r-- 1 u g 1 Dec 08 06:00 tomorrow", kNow, record));
  EXPECT_EQ(record.writeTime, fileTimeFromUnix(utc(2026, 12, 8, 6, 0)));
  ASSERT_TRUE(parseListLine("-rw-r--r-- 1 u g 1 Dec 09 06:00 beyond", kNow, record));
  EXPECT_EQ(record.writeTime, fileTimeFromUnix(utc(2025, 12, 9, 6, 0)));
  ASSERT_TRUE(parseListLine("-rw-r--r-- 1 u g 1 Jan 02 10:00 january", kNow, record));
  EXPECT_EQ(record.writeTime, fileTimeFromUnix(utc(2026, 1, 2, 10, 0)));
}

TEST(ListLineYear, FindsTheLastLeapYearForFebruaryTheTwentyNinth) {
  ListRecord record;
  ASSERT_TRUE(parseListLine("-rw-r--r-- 1 u g 1 Feb 29 12:00 leap", kNow, record));
  EXPECT_EQ(record.writeTime, fileTimeFromUnix(utc(2024, 2, 29, 12, 0)));
}

TEST(ListLineYear, CrossesNewYearWithinTheDayOfGrace) {
  const int64_t newYearsEve = utc(2026, 12, 31, 23, 30);
  ListRecord record;
  ASSERT_TRUE(parseListLine("-rw-r--r-- 1 u g 1 Jan 01 08:00 early", newYearsEve, record));
  EXPECT_EQ(record.writeTime, fileTimeFromUnix(utc(2027, 1, 1, 8, 0)));
}

TEST(ListLineYear, ShowsOnlyMonthDayAndClockWhichAgreeOnAnyDay) {
  const std::string line = "-rw-r--r-- 1 u g 1 Dec 08 23:00 x";
  ListRecord early, late;
  ASSERT_TRUE(parseListLine(line, kNow, early));
  ASSERT_TRUE(parseListLine(line, utc(2026, 12, 10, 8, 0), late));
  EXPECT_EQ(early.writeTime, fileTimeFromUnix(utc(2025, 12, 8, 23, 0)));
  EXPECT_EQ(late.writeTime, fileTimeFromUnix(utc(2026, 12, 8, 23, 0)));
  EXPECT_EQ(late.timeShown, TimeShown::noYear);
  EXPECT_TRUE(agreesInShownFields(late.writeTime, late.timeShown, early.writeTime));
  EXPECT_FALSE(agreesInShownFields(late.writeTime, late.timeShown, early.writeTime + 600000000));
}

TEST(ListLineYear, SameLineGivesTheSameTimeThroughoutARun) {
  const std::string line = "-rw-r--r--    1 102      0               6 Dec 07 06:20 recent.txt";
  ListRecord first, later;
  ASSERT_TRUE(parseListLine(line, kNow, first));
  ASSERT_TRUE(parseListLine(line, kNow + 3 * 3600, later));
  EXPECT_EQ(first.writeTime, later.writeTime);
}

TEST(WriteTimes, AgreeAtThePrecisionBothShow) {
  const FileTime second = fileTimeFromUnix(utc(2026, 12, 7, 6, 20, 49));
  const FileTime minute = fileTimeFromUnix(utc(2026, 12, 7, 6, 20));
  // A fraction in one reply and none in the other.
  EXPECT_TRUE(sameWriteTime(second + 1230000, second));
  EXPECT_FALSE(sameWriteTime(second + 1230000, second + 10000000));
  EXPECT_FALSE(sameWriteTime(second + 1230000, second + 1240000));
  // A record of whole minutes and a listing with seconds.
  EXPECT_TRUE(withinRecordedMinute(second, minute));
  EXPECT_FALSE(withinRecordedMinute(minute + 600000000, minute));
  EXPECT_FALSE(withinRecordedMinute(second + 10000000, second));
}

}  // namespace
}  // namespace tandrel

namespace tandrel {
namespace {

struct DataListing {
  const char* about;
  ListingFormat format;
  std::string data;
  std::vector<std::string> lines;
};

const std::string kFile = "-rw-r--r--    1 102      0               6 Dec 07 06:20 ";
const std::string kFacts = "modify=20261207062000;size=6;type=file; ";

const DataListing kDataListings[] = {
    {"plain lines", ListingFormat::list, kFile + "a\n" + kFile + "b\n", {kFile + "a", kFile + "b"}},
    {"a last line without its end", ListingFormat::list, kFile + "a", {kFile + "a"}},
    {"a CR left at a line end goes", ListingFormat::list, kFile + "a\r\n", {kFile + "a"}},
    {"a name ending in CR gets it back", ListingFormat::list, kFile + "Icon\n\n" + kFile + "b\n",
     {kFile + "Icon\r", kFile + "b"}},
    {"in MLSD too", ListingFormat::mlsd, kFacts + "Icon\n\n", {kFacts + "Icon\r"}},
    {"only one CR for two empty lines", ListingFormat::list, kFile + "a\n\n\n", {kFile + "a\r"}},
    {"no CR for what is no entry", ListingFormat::list, "total 3\n\n" + kFile + ".\n\n",
     {"total 3", kFile + "."}},
    {"no CR for an unreadable line", ListingFormat::list, "garbage\n\n", {"garbage"}},
    {"an empty first line is dropped", ListingFormat::list, "\n" + kFile + "a\n", {kFile + "a"}},
    {"nothing", ListingFormat::mlsd, "", {}},
};

TEST(ListingData, GivesLinesAsARepliesLinesWouldBe) {
  for (const DataListing& row : kDataListings) {
    SCOPED_TRACE(row.about);
    EXPECT_EQ(linesOfListingData(row.data, row.format, kNow), row.lines);
  }
}

}  // namespace
}  // namespace tandrel
