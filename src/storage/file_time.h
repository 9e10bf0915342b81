// Conversions into the FILETIME representation the tool stores.
#pragma once

#include <cstdint>

#include "storage/list_record.h"

namespace tandrel {

// Unix seconds (UTC) plus nanoseconds as 100-ns ticks since 1601-01-01. Times
// before 1601 are clamped to 0.
FileTime fileTimeFromUnix(int64_t seconds, uint32_t nanoseconds = 0);

// Days since 1970-01-01 of a proleptic Gregorian date (month 1..12).
int64_t daysFromCivil(int64_t year, unsigned month, unsigned day);

struct CivilDate {
  int64_t year;
  unsigned month, day;  // 1..12, 1..31
};
// The proleptic Gregorian date of a day count since 1970-01-01.
CivilDate civilFromDays(int64_t days);

// Whether `recorded` has every field that a listing showed of `listed`
// (`shown`): month, day, hour and minute of a time without a year; the date of
// a date without a time; everything of a whole time. A listing that showed no
// time agrees with any. Fields are read in UTC, as the listing parsers read them.
bool agreesInShownFields(FileTime listed, TimeShown shown, FileTime recorded);

// Whether two times from the same source are the same: equal, or equal in
// whole seconds where one of them has no fraction (a server may give
// fractions in one reply and not in another).
bool sameWriteTime(FileTime a, FileTime b);

// Whether a listing time falls within the minute of a record that holds whole
// minutes (made from a listing that showed no seconds): then the time is the
// one recorded, seen more precisely.
bool withinRecordedMinute(FileTime listed, FileTime recorded);

}  // namespace tandrel
