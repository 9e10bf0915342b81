// Every input kept under tests/fuzz_regressions/<target>/ (the seeds the
// fuzzers start from, and each input that ever broke something), plus a few
// made by hand to be nasty, run through the same checks as the libFuzzer
// targets. Under the sanitizer build a crash, an overflow or a read past the
// bytes fails here; a broken promise fails with its description.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#define TANDREL_FUZZ_REGRESSION
#include "state/state_database_fuzz.cc"
#include "storage/listing_parser_fuzz.cc"

namespace tandrel {
namespace {

using namespace std::string_literals;

const char* checkListing(const std::string& bytes) {
  return fuzz::checkListingInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

const char* checkDatabase(const std::string& bytes) {
  return fuzz::checkDatabaseInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

// The kept inputs of one target, by file name.
std::vector<std::filesystem::path> keptInputs(const std::string& target) {
  std::vector<std::filesystem::path> files;
  const std::filesystem::path folder =
      std::filesystem::path(TANDREL_SOURCE_DIR) / "tests" / "fuzz_regressions" / target;
  for (const auto& item : std::filesystem::directory_iterator(folder)) {
    if (item.is_regular_file()) files.push_back(item.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::string readBytes(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string repeated(const std::string& piece, size_t times) {
  std::string text;
  text.reserve(piece.size() * times);
  for (size_t i = 0; i < times; ++i) text += piece;
  return text;
}

TEST(FuzzRegression, KeptListingInputsPassTheListingChecks) {
  const auto files = keptInputs("listing_parser");
  ASSERT_FALSE(files.empty());
  for (const auto& file : files) {
    const char* problem = checkListing(readBytes(file));
    EXPECT_EQ(problem, nullptr) << file << ": " << problem;
  }
}

TEST(FuzzRegression, KeptDatabaseInputsPassTheDatabaseChecks) {
  const auto files = keptInputs("state_database");
  ASSERT_FALSE(files.empty());
  for (const auto& file : files) {
    const char* problem = checkDatabase(readBytes(file));
    EXPECT_EQ(problem, nullptr) << file << ": " << problem;
  }
}

TEST(FuzzRegression, NastyMlsdLinesPassTheListingChecks) {
  const std::vector<std::string> lines = {"",
                                          "\n",
                                          "\r\n\r\n",
                                          " ",
                                          ";",
                                          " ;",
                                          "; x",
                                          "=;",
                                          "=x; y",
                                          "a=b;c; x",
                                          "type=dir; ",
                                          "type=dir;",
                                          "type=dir;  ",
                                          "  type=dir; x",
                                          "type=dir ;x",
                                          "type=dir; \r",
                                          "type=dir; \0"s,
                                          "type=cdir; x",
                                          "type=pdir; x",
                                          "type=file; .",
                                          "type=file; ..",
                                          "type=file; ...",
                                          "modify=; x",
                                          "modify=2020011510000; x",
                                          "modify=20200115100000.; x",
                                          "modify=20200115100000.1234567890123456789; x",
                                          "modify=20200115100000,5; x",
                                          "modify=99999999999999; x",
                                          "modify=00000101000000; x",
                                          "modify=00000229000000; x",
                                          "modify=20230229000000; x",
                                          "modify=19000229000000; x",
                                          "modify=20241231235960; x",
                                          "modify=20241231235961; x",
                                          "modify=2024123123596\0; x"s,
                                          "modify=-0241231235959; x",
                                          "size=999999999999999999; x",
                                          "size=9999999999999999999; x",
                                          "size=-1; x",
                                          "size=+1; x",
                                          "size=; x",
                                          "SIZE=7;TYPE=DIR;MODIFY=20200115100000; x",
                                          "type=dir;type=file; x",
                                          "type=OS.unix=slink:/etc;; x",
                                          "type=file; a\rb\nc",
                                          "type=file; /",
                                          "type=file;" + std::string(1 << 20, ' '),
                                          repeated("a=b;", 100000) + " x",
                                          repeated("type=file; x\n", 10000)};
  for (const std::string& line : lines) {
    const char* problem = checkListing(line);
    EXPECT_EQ(problem, nullptr) << '"' << line.substr(0, 80) << "\": " << problem;
  }
}

TEST(FuzzRegression, NastyUnixListLinesPassTheListingChecks) {
  const std::vector<std::string> lines = {
      "-rw-r--r--",
      "total 0",
      "-rw-r--r-- 1 0 0 7 Dec 07 04:30",
      "-rw-r--r-- 1 0 0 7 Dec 07 04:30 ",
      "-rw-r--r-- 1 0 0 7 Dec 07 04:30  ",
      "-rw-r--r-- 1 0 0 7 Dec 07 04:30\t\t",
      "-rw-r--r-- 1 0 0 7 Feb 29 04:30 leap",
      "-rw-r--r-- 1 0 0 7 Feb 29 2023 x",
      "-rw-r--r-- 1 0 0 7 Feb 30 2020 x",
      "-rw-r--r-- 1 0 0 7 Dec 32 04:30 x",
      "-rw-r--r-- 1 0 0 7 Dec 00 04:30 x",
      "-rw-r--r-- 1 0 0 7 Dec 07 24:00 x",
      "-rw-r--r-- 1 0 0 7 Dec 07 23:60 x",
      "-rw-r--r-- 1 0 0 7 Dec 07 :30 x",
      "-rw-r--r-- 1 0 0 7 Dec 07 123:30 x",
      "-rw-r--r-- 1 0 0 7 Dec 07 0000 x",
      "-rw-r--r-- 1 0 0 7 Dec 07 99999 x",
      "-rw-r--r-- 1 0 0 7 Dec 07 -999 x",
      "-rw-r--r-- 1 0 0 999999999999999999 Dec 07 04:30 x",
      "-rw-r--r-- 1 0 0 9999999999999999999 Dec 07 04:30 x",
      "-rw-r--r-- 1 0 0 -7 Dec 07 04:30 x",
      "-rw-r--r-- 0 0 Dec 07 04:30 x",
      "-rw-r--r-- Dec Dec Dec Dec Dec Dec Dec Dec Dec",
      "-rw-r--r-- 1 0 0 7 Dec 07 04:30 Dec 07 04:30 x",
      "lrwxrwxrwx 1 0 0 3 Dec 07 04:30  -> b",
      "lrwxrwxrwx 1 0 0 3 Dec 07 04:30 -> -> ->",
      "lrwxrwxrwx 1 0 0 3 Dec 07 04:30 a ->",
      "lrwxrwxrwx 1 0 0 3 Dec 07 04:30 . -> b",
      "drwxr-xr-x 2 0 0 4096 Jan 15  2020 .",
      "drwxr-xr-x 2 0 0 4096 Jan 15  2020 ..",
      "drwxr-xr-x 2 0 0 4096 Jan 15  2020 ...",
      "crw-rw-rw- 1 0 0 1, 3 Dec 07 04:30 null",
      "brw-rw---- 1 0 6 8 Dec 07 04:30 sda",
      "prw-r--r-- 1 0 0 0 Dec 07 04:30 fifo",
      "srwxrwxrwx 1 0 0 0 Dec 07 04:30 socket",
      "-rw-r--r--+ 1 0 0 7 Dec 07 04:30 acl",
      "-rw-r--r-- 1 0 0 7 dEC 07 04:30 case",
      "-rw-r--r--\t1\t0\t0\t7\tDec\t07\t04:30\ttabs",
      "-rw-r--r-- 1 0 0 7 Dec 07 04:30 a\0b"s,
      "-rw-r--r-- 1 0 0 7 Dec 07 04:30 x\r\r\r\n",
      "-rw-r--r-- 1 0 0 7 Dec 07 04:30 " + std::string(1 << 20, 'n'),
      repeated("-rw-r--r-- ", 100000),
      "drwxr-xr-x 2 0 0 4096 Jan 15 2020  .",
      "drwxr-xr-x 2 0 0 4096 Jan 15  2020  ."};
  for (const std::string& line : lines) {
    const char* problem = checkListing(line);
    EXPECT_EQ(problem, nullptr) << '"' << line.substr(0, 80) << "\": " << problem;
  }
}

TEST(FuzzRegression, NastyDosListLinesPassTheListingChecks) {
  const std::vector<std::string> lines = {"1",
                                          "12-07-26",
                                          "12-07-26  04:30AM",
                                          "12-07-26  04:30AM <DIR>",
                                          "12-07-26  04:30AM <DIR> ",
                                          "12-07-26  04:30AM <DIR> .",
                                          "12-07-26  04:30AM <DIR> ..",
                                          "12-07-26  04:30AM <dir> x",
                                          "02-29-23  04:30AM 7 x",
                                          "02-29-00  04:30AM 7 x",
                                          "02-29-1900  04:30AM 7 x",
                                          "13-01-26  04:30AM 7 x",
                                          "00-01-26  04:30AM 7 x",
                                          "12-00-26  04:30AM 7 x",
                                          "12-07-26  00:30AM 7 x",
                                          "12-07-26  13:30PM 7 x",
                                          "12-07-26  12:00am 7 x",
                                          "12-07-26  12:00pm 7 x",
                                          "12-07-26  23:59 7 x",
                                          "12-07-26  AM 7 x",
                                          "12-07-26  :AM 7 x",
                                          "12-07-2026  04:30AM 7 x",
                                          "12-07-202  04:30AM 7 x",
                                          "12-07-26-  04:30AM 7 x",
                                          "99-99-99  99:99XM 1 x",
                                          "1-07-26  04:30AM 7 x",
                                          "12/07/26  04:30AM 7 x",
                                          "12-07-26  04:30AM -7 x",
                                          "12-07-26  04:30AM 9999999999999999999 x",
                                          "12-07-26  04:30AM 7 " + std::string(1 << 20, ' '),
                                          "12-07-26\t04:30AM\t7\tx",
                                          "12-07-26  04:30AM 7 \0"s,
                                          "0" + std::string(1 << 20, '0')};
  for (const std::string& line : lines) {
    const char* problem = checkListing(line);
    EXPECT_EQ(problem, nullptr) << '"' << line.substr(0, 80) << "\": " << problem;
  }
}

// A small valid file: two records and the terminator.
std::string smallDatabase() {
  return "TANDRELDATABASE"s + "\x01\x00"s + "a" + "\x01\x02\x03\x04\x05\x06\x07\x08"s +
         "\x00\x00\x00\x00"s + "\x03\x00"s + "dir" + "\x00\x00\x00\x00\x00\x00\x00\x00"s +
         "\x01\x00\x00\x00"s + "\x00\x00"s;
}

TEST(FuzzRegression, EveryTruncationOfADatabasePassesTheDatabaseChecks) {
  const std::string whole = smallDatabase();
  for (size_t length = 0; length <= whole.size(); ++length) {
    const char* problem = checkDatabase(whole.substr(0, length));
    EXPECT_EQ(problem, nullptr) << length << " bytes: " << problem;
  }
}

TEST(FuzzRegression, NastyDatabasesPassTheDatabaseChecks) {
  const std::string magic = "TANDRELDATABASE";
  const std::string oneByteRecord = "\x01\x00"s + "x" + std::string(12, '\0');
  const std::vector<std::string> files = {
      "",
      "TANDRELDATABAS",
      "TANDRELDATABASF",
      "tandreldatabase\x00\x00"s,
      magic + "\x00",
      magic + "\xff\xff"s,
      magic + "\xff\xff"s + std::string(100, 'n'),
      magic + "\xff\xff"s + std::string(0xffff + 12, 'n') + "\x00\x00"s,
      magic + "\x01\x00"s + "x" + std::string(8, '\xff') + "\xff\xff\xff\xff"s + "\x00\x00"s,
      magic + "\x01\x00"s + "/" + std::string(12, '\0') + "\x00\x00"s,
      magic + "\x01\x00"s + "\n" + std::string(12, '\0') + "\x00\x00"s,
      smallDatabase() + "trailing bytes after the terminator",
      magic + repeated(oneByteRecord, 100000) + "\x00\x00"s,
      magic + repeated(oneByteRecord, 100000)};
  for (const std::string& bytes : files) {
    const char* problem = checkDatabase(bytes);
    EXPECT_EQ(problem, nullptr) << bytes.size() << " bytes: " << problem;
  }
}

}  // namespace
}  // namespace tandrel
