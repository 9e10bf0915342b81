// Parsers for the listing formats FTP servers send. They read bytes from a
// server we do not control: they never read past the line, and a line they
// cannot understand is rejected (false), never turned into a wrong entry.
#pragma once

#include <cstdint>
#include <string_view>

#include "storage/list_record.h"

namespace tandrel {

// One MLSD line (or the entry line of an MLST reply, with or without its
// leading space): "fact=value;fact=value; name". Uses type (file, dir,
// cdir/pdir are rejected so "." and ".." never become entries; OS.unix=symlink
// and unknown types count as files), modify (UTC, fractional seconds allowed)
// and size.
bool parseMlsdLine(std::string_view line, ListRecord& record);

// One LIST line in Unix style ("-rw-r--r-- 1 u g 7 Dec 07 04:30 name",
// "... Jan 15  2020 name", "lrwx... name -> target") or DOS/IIS style
// ("12-07-26  04:30AM  <DIR>  name"). Total lines, "." and ".." are rejected.
// A Unix time without a year is taken as the most recent such date that is not
// more than a day after `nowUnixSeconds`, so the same line always gives the same
// time within a run. Times are read as UTC.
bool parseListLine(std::string_view line, int64_t nowUnixSeconds, ListRecord& record);

}  // namespace tandrel
