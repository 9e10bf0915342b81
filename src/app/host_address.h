// The forms of the host argument: "host", "host:port", "[v6]:port", a bare IPv6
// address, "ftp://host[:port][/]", "ftps://..." (implicit TLS, port 990 by
// default) and "ftpes://..." (explicit TLS, port 21 by default). Anything from a
// "/" after the host on is ignored, in every form.
#pragma once

#include <string>

#include "storage/server_side.h"

namespace tandrel {

// Returns false, with a reason in `problem`, for a port that is not a number
// from 1 to 65535 or an unclosed bracket.
bool parseHostArgument(const std::string& text, ServerAddress& address, std::string& problem);

}  // namespace tandrel
