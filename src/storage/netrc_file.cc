#include "storage/netrc_file.h"

#include <pwd.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

namespace tandrel {

std::string netrcPath() {
  if (const char* named = std::getenv("NETRC"); named && *named) return named;
  const char* home = std::getenv("HOME");
  if (!home || !*home) {
    const passwd* entry = getpwuid(getuid());
    home = entry ? entry->pw_dir : nullptr;
  }
  return home && *home ? std::string(home) + "/.netrc" : std::string();
}

NetrcState checkNetrcFile(const std::string& path, const std::string& host,
                          const std::string& user) {
  struct stat status;
  if (path.empty() || stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
    return NetrcState::absent;
  }
  std::ifstream words(path, std::ios::binary);
  if (!words) return NetrcState::absent;
  // Only words are looked at, not entries: which entry applies is decided by
  // libcurl, which reads the file itself. The words only tell whether to hand
  // it over at all: without the host, libcurl would log in as "anonymous"
  // instead of with the empty password; without the login, libcurl 7.88 sends
  // the password of another login of that host.
  bool password = false, namesHost = false, namesUser = user.empty();
  std::string previous, word;
  while (words >> word) {
    if (strcasecmp(word.c_str(), "password") == 0) password = true;
    if (strcasecmp(word.c_str(), "default") == 0) namesHost = true;
    if (strcasecmp(previous.c_str(), "machine") == 0 &&
        strcasecmp(word.c_str(), host.c_str()) == 0) {
      namesHost = true;
    }
    if (strcasecmp(previous.c_str(), "login") == 0 && word == user) namesUser = true;
    previous = std::move(word);
  }
  // As the classic FTP client: a password that others can read is no secret,
  // and one they can write is not the owner's.
  if (password && (status.st_mode & (S_IRGRP | S_IWGRP | S_IROTH | S_IWOTH)) != 0) {
    return NetrcState::exposed;
  }
  return namesHost && namesUser ? NetrcState::usable : NetrcState::absent;
}

}  // namespace tandrel
