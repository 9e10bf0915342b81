#include "storage/listing_parser.h"

#include <array>
#include <vector>

#include "storage/file_time.h"

namespace tandrel {

namespace {

constexpr int64_t kSecondsPerDay = 86400;

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Reads all of `text` as a decimal number of at most 18 digits.
bool readNumber(std::string_view text, int64_t& value) {
  if (text.empty() || text.size() > 18) return false;
  value = 0;
  for (char c : text) {
    if (!isDigit(c)) return false;
    value = value * 10 + (c - '0');
  }
  return true;
}

bool readNumber(std::string_view text, unsigned& value) {
  int64_t wide = 0;
  if (text.size() > 9 || !readNumber(text, wide)) return false;
  value = static_cast<unsigned>(wide);
  return true;
}

bool isLeapYear(int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

bool isValidDate(int64_t year, unsigned month, unsigned day) {
  static constexpr std::array<unsigned, 12> kDays = {31, 29, 31, 30, 31, 30,
                                                     31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12 || day < 1 || day > kDays[month - 1]) return false;
  return month != 2 || day != 29 || isLeapYear(year);
}

int64_t unixSeconds(int64_t year, unsigned month, unsigned day, unsigned hour, unsigned minute,
                    unsigned second) {
  return daysFromCivil(year, month, day) * kSecondsPerDay + hour * 3600 + minute * 60 + second;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// Exactly the line end the protocol adds, "\r\n" or "\n": a carriage return
// before it belongs to the name (macOS keeps "Icon\r" files).
std::string_view withoutLineEnd(std::string_view line) {
  if (!line.empty() && line.back() == '\n') {
    line.remove_suffix(1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  }
  return line;
}

// Years a listing can plausibly show; a reading outside them took another
// column for the date.
constexpr int64_t kEarliestYear = 1900;
constexpr int64_t kLatestYear = 2200;

// ---- MLSD ------------------------------------------------------------------

// "YYYYMMDDHHMMSS" with optional ".fraction", UTC.
bool parseMlsdTime(std::string_view value, FileTime& time) {
  if (value.size() < 14) return false;
  int64_t year = 0;
  unsigned month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (!readNumber(value.substr(0, 4), year) || !readNumber(value.substr(4, 2), month) ||
      !readNumber(value.substr(6, 2), day) || !readNumber(value.substr(8, 2), hour) ||
      !readNumber(value.substr(10, 2), minute) || !readNumber(value.substr(12, 2), second)) {
    return false;
  }
  // A leap second (60) is allowed by the format and folds into the next minute.
  if (!isValidDate(year, month, day) || hour > 23 || minute > 59 || second > 60) return false;
  uint32_t nanoseconds = 0;
  std::string_view fraction = value.substr(14);
  if (!fraction.empty()) {
    if (fraction.front() != '.' || fraction.size() < 2) return false;
    fraction.remove_prefix(1);
    uint32_t scale = 100000000;
    for (char c : fraction) {
      if (!isDigit(c)) return false;
      nanoseconds += static_cast<uint32_t>(c - '0') * scale;
      scale /= 10;
    }
  }
  time = fileTimeFromUnix(unixSeconds(year, month, day, hour, minute, second), nanoseconds);
  return true;
}

// ---- Unix LIST ---------------------------------------------------------------

struct Token {
  std::string_view text;
  size_t end;  // offset just past the token in the line
};

std::vector<Token> splitFields(std::string_view line, size_t maxTokens) {
  std::vector<Token> tokens;
  size_t i = 0;
  while (i < line.size() && tokens.size() < maxTokens) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i == line.size()) break;
    size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
    tokens.push_back({line.substr(start, i - start), i});
  }
  return tokens;
}

bool parseMonth(std::string_view text, unsigned& month) {
  static constexpr std::array<std::string_view, 12> kMonths = {
      "jan", "feb", "mar", "apr", "may", "jun", "jul", "aug", "sep", "oct", "nov", "dec"};
  for (unsigned i = 0; i < kMonths.size(); ++i) {
    if (equalsIgnoringCase(text, kMonths[i])) {
      month = i + 1;
      return true;
    }
  }
  return false;
}

// "HH:MM" (24-hour).
bool parseClock(std::string_view text, unsigned& hour, unsigned& minute) {
  size_t colon = text.find(':');
  if (colon == std::string_view::npos || colon == 0 || colon > 2 || text.size() - colon != 3) {
    return false;
  }
  return readNumber(text.substr(0, colon), hour) && readNumber(text.substr(colon + 1), minute) &&
         hour <= 23 && minute <= 59;
}

bool looksLikeUnixMode(std::string_view mode) {
  if (mode.size() < 10) return false;
  if (std::string_view("-dlbcps").find(mode[0]) == std::string_view::npos) return false;
  for (size_t i = 1; i < 10; ++i) {
    if (std::string_view("-rwxsStTlL").find(mode[i]) == std::string_view::npos) return false;
  }
  return true;
}

// The year of a "Mon DD HH:MM" date: the most recent one that lies no more than
// a day after now. The day of grace absorbs a server clock a little ahead of
// ours and time zone differences; the rule depends on nothing but `now`, so the
// same line always gives the same time.
int64_t inferYear(unsigned month, unsigned day, unsigned hour, unsigned minute, int64_t now) {
  const int64_t limit = now + kSecondsPerDay;
  int64_t year = civilFromDays(limit >= 0 ? limit / kSecondsPerDay
                                          : (limit - kSecondsPerDay + 1) / kSecondsPerDay)
                     .year;
  // Feb 29 may need up to eight years to find a leap year that fits.
  for (int tries = 0; tries < 9; ++tries, --year) {
    if (isValidDate(year, month, day) && unixSeconds(year, month, day, hour, minute, 0) <= limit) {
      return year;
    }
  }
  return year;
}

// "YYYY-MM-DD".
bool parseIsoDate(std::string_view text, int64_t& year, unsigned& month, unsigned& day) {
  return text.size() == 10 && text[4] == '-' && text[7] == '-' &&
         readNumber(text.substr(0, 4), year) && readNumber(text.substr(5, 2), month) &&
         readNumber(text.substr(8, 2), day);
}

// "HH:MM" or "HH:MM:SS".
bool parseLongClock(std::string_view text, unsigned& hour, unsigned& minute, unsigned& second) {
  second = 0;
  if (text.size() == 8) {
    if (text[5] != ':' || !readNumber(text.substr(6), second) || second > 59) return false;
    text.remove_suffix(3);
  }
  return text.size() == 5 && parseClock(text, hour, minute);
}

// The date and time that begin at token `at`: "Mon DD HH:MM", "Mon DD YYYY" or
// "YYYY-MM-DD HH:MM[:SS]". `last` becomes the index of the last token used.
// False when the tokens have no such shape; `valid` false when they have the
// shape but name no real date.
bool readUnixDate(const std::vector<Token>& tokens, size_t at, int64_t now, FileTime& time,
                  TimeShown& shown, size_t& last, bool& valid) {
  int64_t year = 0;
  unsigned month = 0, day = 0, hour = 0, minute = 0, second = 0;
  valid = true;
  if (parseIsoDate(tokens[at].text, year, month, day)) {
    if (at + 1 >= tokens.size() || !parseLongClock(tokens[at + 1].text, hour, minute, second)) {
      return false;
    }
    shown = TimeShown::all;
    last = at + 1;
  } else {
    if (at + 2 >= tokens.size() || !parseMonth(tokens[at].text, month) ||
        !readNumber(tokens[at + 1].text, day) || day < 1 || day > 31) {
      return false;
    }
    std::string_view when = tokens[at + 2].text;
    if (parseClock(when, hour, minute)) {
      year = inferYear(month, day, hour, minute, now);
      shown = TimeShown::noYear;
    } else if (when.size() == 4 && readNumber(when, year)) {
      shown = TimeShown::dateOnly;
    } else {
      return false;
    }
    last = at + 2;
  }
  valid = isValidDate(year, month, day) && year >= kEarliestYear && year <= kLatestYear;
  time = fileTimeFromUnix(unixSeconds(year, month, day, hour, minute, second));
  return true;
}

LineKind parseUnixLine(std::string_view line, int64_t now, ListRecord& record) {
  // mode, links, owner, group, size, then the date: the date is found by its
  // shape, so a listing without the group or the link count still parses.
  std::vector<Token> tokens = splitFields(line, 9);
  int64_t total = 0;
  if (tokens.size() == 2 && tokens[0].text == "total" && readNumber(tokens[1].text, total)) {
    return LineKind::noEntry;
  }
  if (tokens.size() < 4 || !looksLikeUnixMode(tokens[0].text)) return LineKind::unreadable;
  // Every place where a size and a date could begin is tried: an owner named
  // like a month before a numeric group and a four-digit size reads as a date
  // too. A line that reads in two ways is not taken in either.
  int readings = 0;
  int64_t size = 0;
  FileTime time = 0;
  TimeShown shown = TimeShown::all;
  size_t last = 0;
  for (size_t at = 2; at + 1 < tokens.size(); ++at) {
    int64_t atSize = 0;
    FileTime atTime = 0;
    TimeShown atShown = TimeShown::all;
    size_t atLast = 0;
    bool valid = true;
    if (!readNumber(tokens[at - 1].text, atSize) ||
        !readUnixDate(tokens, at, now, atTime, atShown, atLast, valid)) {
      continue;
    }
    // A date that does not exist, or nothing left for the name, means the
    // columns are not what they seem.
    if (!valid || tokens[atLast].end + 1 >= line.size() || ++readings > 1) {
      return LineKind::unreadable;
    }
    size = atSize;
    time = atTime;
    shown = atShown;
    last = atLast;
  }
  if (readings == 0) return LineKind::unreadable;
  // Exactly one separator before the name: any further spaces belong to it.
  std::string_view name = line.substr(tokens[last].end + 1);
  std::string_view target;
  const char type = tokens[0].text[0];
  if (type == 'l') {
    size_t arrow = name.find(" -> ");
    // "a -> b -> c" may be the link "a" or the link "a -> b": neither is taken.
    if (arrow != std::string_view::npos && name.find(" -> ", arrow + 1) != std::string_view::npos) {
      return LineKind::unreadable;
    }
    if (arrow != std::string_view::npos) {
      target = name.substr(arrow + 4);
      name = name.substr(0, arrow);
    }
  }
  if (name == "." || name == "..") return LineKind::noEntry;
  if (name.empty()) return LineKind::unreadable;
  record = ListRecord{};
  record.name = std::string(name);
  // What a link points to is found out by the caller; until then it is a file.
  record.kind = type == 'd'                  ? RecordKind::directory
                : type == '-' || type == 'l' ? RecordKind::file
                                             : RecordKind::special;
  record.isLink = type == 'l';
  record.linkTarget = std::string(target);
  // A link's size is that of its own text, not of what it points to.
  record.size = record.isLink ? -1 : size;
  record.writeTime = time;
  record.timeShown = shown;
  return LineKind::entry;
}

// ---- DOS / IIS LIST ------------------------------------------------------------

// "MM-DD-YY", "MM-DD-YYYY" or "YYYY-MM-DD"; two-digit years below 70 are 20xx.
bool parseDosDate(std::string_view text, int64_t& year, unsigned& month, unsigned& day) {
  if (parseIsoDate(text, year, month, day)) {
    return isValidDate(year, month, day) && year >= kEarliestYear && year <= kLatestYear;
  }
  if (text.size() != 8 && text.size() != 10) return false;
  if (text[2] != '-' || text[5] != '-') return false;
  if (!readNumber(text.substr(0, 2), month) || !readNumber(text.substr(3, 2), day) ||
      !readNumber(text.substr(6), year)) {
    return false;
  }
  if (text.size() == 8) year += year < 70 ? 2000 : 1900;
  return isValidDate(year, month, day) && year >= kEarliestYear && year <= kLatestYear;
}

// "04:30AM", "11:05PM" or "23:05".
bool parseDosClock(std::string_view text, unsigned& hour, unsigned& minute) {
  std::string_view suffix;
  if (text.size() > 2) {
    std::string_view tail = text.substr(text.size() - 2);
    if (equalsIgnoringCase(tail, "am") || equalsIgnoringCase(tail, "pm")) {
      suffix = tail;
      text.remove_suffix(2);
    }
  }
  if (!parseClock(text, hour, minute)) return false;
  if (suffix.empty()) return true;
  if (hour < 1 || hour > 12) return false;
  if (hour == 12) hour = 0;
  if (equalsIgnoringCase(suffix, "pm")) hour += 12;
  return true;
}

LineKind parseDosLine(std::string_view line, ListRecord& record) {
  std::vector<Token> tokens = splitFields(line, 3);
  if (tokens.size() < 3) return LineKind::unreadable;
  int64_t year = 0;
  unsigned month = 0, day = 0, hour = 0, minute = 0;
  if (!parseDosDate(tokens[0].text, year, month, day) ||
      !parseDosClock(tokens[1].text, hour, minute)) {
    return LineKind::unreadable;
  }
  bool isDirectory = equalsIgnoringCase(tokens[2].text, "<dir>");
  int64_t size = -1;
  if (!isDirectory && !readNumber(tokens[2].text, size)) return LineKind::unreadable;
  // The name is everything after the column's padding; this format cannot
  // carry leading spaces of a name.
  size_t nameStart = tokens[2].end;
  while (nameStart < line.size() && line[nameStart] == ' ') ++nameStart;
  std::string_view name = line.substr(nameStart);
  if (name == "." || name == "..") return LineKind::noEntry;
  if (name.empty()) return LineKind::unreadable;
  record = ListRecord{};
  record.name = std::string(name);
  record.kind = isDirectory ? RecordKind::directory : RecordKind::file;
  record.size = size;
  record.writeTime = fileTimeFromUnix(unixSeconds(year, month, day, hour, minute, 0));
  return LineKind::entry;
}

}  // namespace

LineKind readMlsdLine(std::string_view line, ListRecord& record) {
  line = withoutLineEnd(line);
  if (line.find_first_not_of(" \t") == std::string_view::npos) return LineKind::noEntry;
  // An MLST reply indents its entry line by one space; fact lists never start
  // with one.
  if (!line.empty() && line.front() == ' ') line.remove_prefix(1);
  // Facts hold no spaces, so the first space ends them and the name follows it.
  size_t space = line.find(' ');
  if (space == std::string_view::npos || space == 0 || line[space - 1] != ';') {
    return LineKind::unreadable;
  }
  std::string_view facts = line.substr(0, space);
  std::string_view name = line.substr(space + 1);
  if (name.empty()) return LineKind::unreadable;

  bool isDirectory = false, isLink = false, noEntry = false, hasTime = false;
  FileTime time = 0;
  int64_t size = -1;
  std::string_view unique;
  while (!facts.empty()) {
    size_t end = facts.find(';');
    std::string_view fact = facts.substr(0, end);
    facts.remove_prefix(end + 1);
    size_t equals = fact.find('=');
    if (equals == std::string_view::npos || equals == 0) return LineKind::unreadable;
    std::string_view key = fact.substr(0, equals);
    std::string_view value = fact.substr(equals + 1);
    if (equalsIgnoringCase(key, "type")) {
      noEntry = equalsIgnoringCase(value, "cdir") || equalsIgnoringCase(value, "pdir");
      isDirectory = equalsIgnoringCase(value, "dir");
      isLink = equalsIgnoringCase(value.substr(0, 14), "os.unix=symlin") ||
               equalsIgnoringCase(value.substr(0, 13), "os.unix=slink");
    } else if (equalsIgnoringCase(key, "modify")) {
      if (!parseMlsdTime(value, time)) return LineKind::unreadable;
      hasTime = true;
    } else if (equalsIgnoringCase(key, "size")) {
      if (!readNumber(value, size)) return LineKind::unreadable;
    } else if (equalsIgnoringCase(key, "unique")) {
      unique = value;
    }
  }
  if (noEntry || name == "." || name == "..") return LineKind::noEntry;
  record = ListRecord{};
  record.name = std::string(name);
  record.kind = isDirectory ? RecordKind::directory : RecordKind::file;
  record.isLink = isLink;
  record.writeTime = time;
  record.timeShown = hasTime ? TimeShown::all : TimeShown::none;
  record.size = isLink ? -1 : size;
  record.unique = std::string(unique);
  return LineKind::entry;
}

LineKind readListLine(std::string_view line, int64_t nowUnixSeconds, ListRecord& record) {
  line = withoutLineEnd(line);
  if (line.find_first_not_of(" \t") == std::string_view::npos) return LineKind::noEntry;
  if (isDigit(line.front())) return parseDosLine(line, record);
  return parseUnixLine(line, nowUnixSeconds, record);
}

LineKind readListingLine(std::string_view line, ListingFormat format, int64_t nowUnixSeconds,
                         ListRecord& record) {
  return format == ListingFormat::mlsd ? readMlsdLine(line, record)
                                       : readListLine(line, nowUnixSeconds, record);
}

std::vector<std::string> linesOfListingData(std::string_view data, ListingFormat format,
                                            int64_t nowUnixSeconds) {
  std::vector<std::string> lines;
  // Whether the last line kept came right before and may take a CR back.
  bool mayTakeCr = false;
  while (!data.empty()) {
    const size_t end = data.find('\n');
    std::string_view line = data.substr(0, end);
    data.remove_prefix(end == std::string_view::npos ? data.size() : end + 1);
    if (line.empty()) {
      ListRecord record;
      if (mayTakeCr && readListingLine(lines.back(), format, nowUnixSeconds, record) ==
                           LineKind::entry) {
        lines.back().push_back('\r');
      }
      mayTakeCr = false;
      continue;
    }
    if (line.back() == '\r') line.remove_suffix(1);
    lines.emplace_back(line);
    mayTakeCr = true;
  }
  return lines;
}

bool parseModificationTime(std::string_view text, FileTime& time) {
  return parseMlsdTime(withoutLineEnd(text), time);
}

}  // namespace tandrel
