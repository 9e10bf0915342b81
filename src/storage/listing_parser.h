// Parsers for the listing formats FTP servers send. They read bytes from a
// server we do not control: they never read past the line, and a line they
// cannot understand is rejected, never turned into a wrong entry.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

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

// Which of the two forms above a listing is in.
enum class ListingFormat { mlsd, list };

// One line of a listing in `format`: readMlsdLine or readListLine.
LineKind readListingLine(std::string_view line, ListingFormat format, int64_t nowUnixSeconds,
                         ListRecord& record);

// The lines of listing data that came over a data connection through libcurl,
// each without its line end, as the lines of a reply on the control
// connection give them. libcurl turns the CR of a line end into nothing and
// any other CR into a line end of its own, so a name ending in CR ("Icon\r")
// arrives as its line and an empty one. Servers send no empty lines, so an
// empty line right after an entry gives that entry its CR back; other empty
// lines are dropped, and so is one CR left at the end of a line.
std::vector<std::string> linesOfListingData(std::string_view data, ListingFormat format,
                                            int64_t nowUnixSeconds);

// The time of an MDTM reply's text ("YYYYMMDDHHMMSS", optional fraction, UTC).
bool parseModificationTime(std::string_view text, FileTime& time);

}  // namespace tandrel
