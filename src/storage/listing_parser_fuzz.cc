// libFuzzer target for the listing parsers: the bytes are a listing (or the
// inner lines of an MLST or STAT reply) as a server might send it. Every line
// goes through parseMlsdLine and parseListLine the way CurlServerSide::list and
// lookUp feed them, and every record a parser accepts is checked against what
// the parsers promise. Built only with -DTANDREL_FUZZ=ON (clang); the
// regression test includes this file to run the very same checks.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "storage/file_time.h"
#include "storage/listing_parser.h"
#include "storage/reserved_names.h"

namespace tandrel::fuzz {

namespace {

constexpr int64_t kSecondsPerDay = 86400;

// Moments a run may be in, picked for the year inference: the epoch, a leap
// day, an ordinary day, the first of a leap year that is not one (2100) and
// the last day with a four-digit year.
constexpr int64_t kListedAt[] = {0, 951782400, 1765081800, 4102444800, 253402214400};

// The latest time a line can give: years have four digits, and a date without
// a year lies at most a day after the last moment above, so the first second
// of the year 10000 at most.
const FileTime kLatestTime = fileTimeFromUnix(253402300800, 999999999);

bool sameRecord(const ListRecord& a, const ListRecord& b) {
  return a.name == b.name && a.kind == b.kind && a.writeTime == b.writeTime && a.size == b.size &&
         a.timeShown == b.timeShown && a.isLink == b.isLink && a.linkTarget == b.linkTarget &&
         a.device == b.device && a.inode == b.inode;
}

// What every accepted record must satisfy, whatever the line was.
const char* checkRecord(std::string_view line, const ListRecord& record) {
  if (record.name.empty()) return "accepted an empty name";
  if (record.name == "." || record.name == "..") return "accepted \".\" or \"..\"";
  if (line.find(record.name) == std::string_view::npos) return "name is not part of the line";
  if (record.kind != RecordKind::file && record.kind != RecordKind::directory &&
      record.kind != RecordKind::special) {
    return "a server record with a local-only kind";
  }
  if (record.device != 0 || record.inode != 0) return "local-only fields set";
  if (record.isLink && record.size != -1) return "a link's own size taken for the file's";
  if (record.size < -1) return "negative size";
  if (record.writeTime > kLatestTime) return "time after the year 9999";
  // The safety check the listing applies next must not trip over the name.
  (void)isUnsafeName(record.name);
  return nullptr;
}

// The MLSD parser on its own line: the name is exactly what follows the first
// space after the facts (and an MLST entry line's one leading space).
const char* checkMlsd(std::string_view line) {
  ListRecord record;
  if (!parseMlsdLine(line, record)) return nullptr;
  if (const char* problem = checkRecord(line, record)) return problem;
  std::string_view trimmed = line;
  // Only the line end: a CR before it belongs to the name.
  if (trimmed.ends_with('\n')) {
    trimmed.remove_suffix(1);
    if (trimmed.ends_with('\r')) trimmed.remove_suffix(1);
  }
  if (!trimmed.empty() && trimmed.front() == ' ') trimmed.remove_prefix(1);
  const size_t space = trimmed.find(' ');
  if (space == std::string_view::npos || trimmed.substr(space + 1) != record.name) {
    return "MLSD name is not everything after the facts";
  }
  if (record.kind == RecordKind::special) return "MLSD gave a special file";
  ListRecord again;
  if (!parseMlsdLine(line, again) || !sameRecord(record, again)) return "MLSD not repeatable";
  return nullptr;
}

bool parseMlsd(std::string_view line, ListRecord& record) { return parseMlsdLine(line, record); }

bool parseList(std::string_view line, ListRecord& record) {
  return parseListLine(line, kListedAt[2], record);
}

// A line end is never part of an entry: the same line with "\r\n" after it
// parses to the same record, or is refused as well. (A CR inside a name is
// the server's business; the listing drops such names as unsafe.)
const char* checkLineEndIgnored(std::string_view line,
                                bool (*parse)(std::string_view, ListRecord&)) {
  if (!line.empty() && (line.back() == '\r' || line.back() == '\n')) return nullptr;
  ListRecord bare, ended;
  const bool bareParsed = parse(line, bare);
  const std::string withEnd = std::string(line) + "\r\n";
  if (parse(withEnd, ended) != bareParsed || (bareParsed && !sameRecord(bare, ended))) {
    return "a line end changes the entry";
  }
  return nullptr;
}

const char* checkList(std::string_view line, int64_t listedAt) {
  ListRecord record;
  if (!parseListLine(line, listedAt, record)) return nullptr;
  if (const char* problem = checkRecord(line, record)) return problem;
  ListRecord again;
  if (!parseListLine(line, listedAt, again) || !sameRecord(record, again)) {
    return "LIST not repeatable";
  }
  // A line whose time moves with the moment of listing has a date without a
  // year: it must be the most recent such date no more than a day after that
  // moment, so not later, and not more than eight years earlier (a 29 February
  // waits for a leap year).
  ListRecord later;
  const int64_t laterAt = listedAt + 400 * kSecondsPerDay;
  if (!parseListLine(line, laterAt, later)) return "LIST depends on the moment of listing";
  if (later.writeTime != record.writeTime) {
    for (auto [at, time] : {std::pair{listedAt, record.writeTime}, {laterAt, later.writeTime}}) {
      if (time > fileTimeFromUnix(at + kSecondsPerDay)) return "inferred year in the future";
      if (time < fileTimeFromUnix(at + kSecondsPerDay - 8 * 366 * kSecondsPerDay)) {
        return "inferred year not the most recent";
      }
    }
  }
  return nullptr;
}

}  // namespace

// Null when every line went through without breaking a promise; otherwise
// what was broken.
const char* checkListingInput(const uint8_t* data, size_t size) {
  const std::string_view listing(reinterpret_cast<const char*>(data), size);

  // The whole input as one line: the parsers must cope with anything,
  // including line ends and NULs in the middle.
  if (const char* problem = checkMlsd(listing)) return problem;
  if (const char* problem = checkList(listing, kListedAt[2])) return problem;

  std::string_view rest = listing;
  while (!rest.empty()) {
    const size_t end = rest.find('\n');
    const std::string_view line = rest.substr(0, end);
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    if (const char* problem = checkMlsd(line)) return problem;
    for (int64_t listedAt : kListedAt) {
      if (const char* problem = checkList(line, listedAt)) return problem;
    }
    if (const char* problem = checkLineEndIgnored(line, parseMlsd)) return problem;
    if (const char* problem = checkLineEndIgnored(line, parseList)) return problem;
    // The STAT look-up renames a directory's "." line so the parser takes it.
    if (line.size() > 2 && line.substr(line.size() - 2) == " .") {
      const std::string renamed = std::string(line.substr(0, line.size() - 1)) + "x";
      if (const char* problem = checkList(renamed, kListedAt[2])) return problem;
    }
  }
  return nullptr;
}

}  // namespace tandrel::fuzz

#ifndef TANDREL_FUZZ_REGRESSION
#include <sanitizer/common_interface_defs.h>

#include <string>

using namespace std::string_literals;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (const char* problem = tandrel::fuzz::checkListingInput(data, size)) {
    __sanitizer_report_error_summary(("listing check failed: "s + problem).c_str());
    __builtin_trap();
  }
  return 0;
}
#endif
