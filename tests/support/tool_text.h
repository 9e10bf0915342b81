// The tool's fixed texts as a user sees them, written out once for every test
// that compares output byte for byte.
#pragma once

#include <string>

namespace tandrel::testing {

inline const std::string kBanner =
    "\nTandrel V1.0\n"
    "Two-way synchronisation of a local directory tree with an FTP server\n";

inline const std::string kUsage =
    "\n"
    "Synchronizes contents of the local and ftp server directories.\n"
    "\n"
    "usage: Tandrel\n"
    "    -h            <ftp host name>\n"
    "    -u            <user name>\n"
    "    -p            <user password>\n"
    "   [-s(erverDir)  <ftp server directory>]\n"
    "   [-l(localDir)  <local directory>]\n"
    "   [-y]           do not prompt for create, delete and overwrite.\n"
    "   [-c]           always recreate deleted directory.\n"
    "   [-r(ecursive)] look into subdirectories.\n"
    "   [-f(tpWins)]   ftp server will win in the conflict situations; by default\n"
    "                  local files have a priority.\n"
    "\n";

}  // namespace tandrel::testing
