// Parsers for the listing formats FTP servers send. They read bytes from a
// server we do not control: they never read past the line, and a line they
// cannot understand is rejected, never turned into a wrong entry.
#pragma once

#include <cstdint>
#include <string_view>

#include "storage/list_record.h"

namespace tandrel {

// What one listing line turned out to be.
enum class LineKind {
  entry,       // an entry; the record is filled in
  noEntry,     // stands for no entry: blank, "total N", "." or ".."
  unreadable,  // in no form the parser knows; the record is left alone
};

// One MLSD line (or the entry line of an MLST reply, with or without its
// leading space): "fact=value;fact=value; name". Uses type (file, dir,
// cdir/pdir are rejected so "." and ".." never become entries; OS.unix=symlink
// and unknown types count as files; a link's size is unknown), modify (UTC,
// fractional seconds allowed; without it the time is TimeShown::none), size
// and unique.
LineKind readMlsdLine(std::string_view line, ListRecord& record);
inline bool parseMlsdLine(std::string_view line, ListRecord& record) {
  return readMlsdLine(line, record) == LineKind::entry;
}

// One LIST line in Unix style ("-rw-r--r-- 1 u g 7 Dec 07 04:30 name",
// "... Jan 15  2020 name", "... 2026-12-07 04:30[:59] name", with or without
// the group column; "lrwx... name -> target", whose size is unknown) or
// DOS/IIS style ("12-07-26  04:30AM  <DIR>  name", four-digit and ISO years
// too). A Unix time without a year is taken as the most recent such date that
// is not more than a day after `nowUnixSeconds`, so the same line always gives
// the same time within a run; the record says which fields the line showed.
// Times are read as UTC.
LineKind readListLine(std::string_view line, int64_t nowUnixSeconds, ListRecord& record);
inline bool parseListLine(std::string_view line, int64_t nowUnixSeconds, ListRecord& record) {
  return readListLine(line, nowUnixSeconds, record) == LineKind::entry;
}

// The time of an MDTM reply's text ("YYYYMMDDHHMMSS", optional fraction, UTC).
bool parseModificationTime(std::string_view text, FileTime& time);

}  // namespace tandrel
