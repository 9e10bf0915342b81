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

}  // namespace tandrel
