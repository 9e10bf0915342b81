#include "storage/file_time.h"

namespace tandrel {

namespace {
// Seconds from 1601-01-01 to 1970-01-01.
constexpr int64_t kEpochDifference = 11644473600LL;
}  // namespace

FileTime fileTimeFromUnix(int64_t seconds, uint32_t nanoseconds) {
  if (seconds < -kEpochDifference) return 0;
  return static_cast<FileTime>(seconds + kEpochDifference) * 10000000ULL + nanoseconds / 100;
}

// Howard Hinnant's days_from_civil.
int64_t daysFromCivil(int64_t year, unsigned month, unsigned day) {
  year -= month <= 2;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(year - era * 400);
  const unsigned doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

// Howard Hinnant's civil_from_days.
CivilDate civilFromDays(int64_t days) {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t doe = days - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const unsigned day = static_cast<unsigned>(doy - (153 * mp + 2) / 5 + 1);
  const unsigned month = static_cast<unsigned>(mp < 10 ? mp + 3 : mp - 9);
  return {yoe + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

namespace {

struct Civil {
  int64_t year;
  unsigned month, day, hour, minute;
};

Civil civilFrom(FileTime time) {
  const int64_t seconds = static_cast<int64_t>(time / 10000000ULL) - kEpochDifference;
  const int64_t days = seconds >= 0 ? seconds / 86400 : (seconds - 86399) / 86400;
  const int64_t ofDay = seconds - days * 86400;
  const CivilDate date = civilFromDays(days);
  return {date.year, date.month, date.day, static_cast<unsigned>(ofDay / 3600),
          static_cast<unsigned>(ofDay / 60 % 60)};
}

}  // namespace

bool agreesInShownFields(FileTime listed, TimeShown shown, FileTime recorded) {
  if (shown == TimeShown::none) return true;
  if (shown == TimeShown::all) return listed == recorded;
  const Civil a = civilFrom(listed), b = civilFrom(recorded);
  const bool sameDay = a.month == b.month && a.day == b.day;
  if (shown == TimeShown::noYear) return sameDay && a.hour == b.hour && a.minute == b.minute;
  return sameDay && a.year == b.year;
}

namespace {
constexpr FileTime kTicksPerSecond = 10000000;
constexpr FileTime kTicksPerMinute = 60 * kTicksPerSecond;
}  // namespace

bool sameWriteTime(FileTime a, FileTime b) {
  if (a == b) return true;
  if (a % kTicksPerSecond != 0 && b % kTicksPerSecond != 0) return false;
  return a / kTicksPerSecond == b / kTicksPerSecond;
}

bool withinRecordedMinute(FileTime listed, FileTime recorded) {
  return recorded % kTicksPerMinute == 0 && listed >= recorded &&
         listed - recorded < kTicksPerMinute;
}

}  // namespace tandrel
