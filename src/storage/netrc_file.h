// The file of log-in names and passwords per host (".netrc") that the server
// side hands to the network library when no password was given. Reading its
// entries is the library's business; here is only where the file is and
// whether it may be used.
#pragma once

#include <string>

namespace tandrel {

enum class NetrcState {
  absent,   // no such file, or no word in it for this host and user
  usable,   // names the host (or has a "default" entry), and the user if given
  exposed,  // holds a password, and others than its owner may read or write it
};

// $NETRC when set and not empty; otherwise ".netrc" in $HOME, or in the home
// directory of the user database when HOME is not set. Empty when there is none.
std::string netrcPath();

// Looks at the words of the file at `path`: "machine" followed by `host` (in
// any case) or "default", "login" followed by `user` when `user` is not empty,
// and "password". A file that cannot be read is absent.
NetrcState checkNetrcFile(const std::string& path, const std::string& host,
                          const std::string& user);

}  // namespace tandrel
