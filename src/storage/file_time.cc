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

}  // namespace tandrel
