// Path arithmetic on the server's names, worked out on the text alone: the
// server is never asked. Paths are absolute, "/"-separated, without a
// trailing "/" (except the root itself). Pure: no I/O.
#pragma once

#include <string>
#include <string_view>

#include "storage/reply_reader.h"

namespace tandrel {

// `name` inside the directory `directory`.
std::string childPath(const std::string& directory, const std::string& name);

// The absolute path `name` leads to from `current`: an absolute `name` stands
// alone, "." and empty segments are skipped, ".." goes up, and ".." of "/" is
// "/".
std::string resolvePath(const std::string& current, const std::string& name);

// Whether `path` is `ancestor` or lies below it.
bool isAncestorOrSelf(const std::string& ancestor, const std::string& path);

// The path in a PWD reply ("257 "/a ""quoted"" dir" is the current
// directory."): between the first quote and the next single one, doubled
// quotes standing for one. False, with `path` unspecified, unless the reply
// is a 257 holding an absolute path.
bool readPwdReply(const Reply& reply, std::string& path);

// Whether `name` holds a CR, an LF or a NUL, any of which would end the
// command line it is sent in.
bool hasLineBreakOrNul(std::string_view name);

// Whether `name` holds characters a server may take as a pattern in STAT
// ('*', '?', "{a,b}", brackets, a backslash).
bool hasPatternCharacters(std::string_view name);

}  // namespace tandrel
