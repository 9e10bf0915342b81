// Times what every run pays for a directory before its first transfer: the
// local listing of one large directory merged with that directory's database.
//
//   tandrel_bench_listing [ENTRIES [REPEATS]]      (default 100000 and 5)
//
// Creates ENTRIES empty files in a fresh temporary directory, records them all
// in a database with a first listing (as a first run would), then opens the
// listing REPEATS more times and prints the time of each open: list, sort, load
// the database, merge. The last line is for scripts:
//   result entries=N median=S min=S max=S first=S save=S
// Exits 1 when the directory cannot be made or a listing fails.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "state/run_state.h"
#include "storage/local_posix.h"
#include "storage/server_curl.h"
#include "state/entry.h"
#include "state/side_listing.h"
#include "state/state_database.h"

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Removes every file the benchmark made, the database included, and the
// directory itself.
void removeDirectory(const std::string& path, int entries) {
  char name[32];
  for (int i = 0; i < entries; ++i) {
    std::snprintf(name, sizeof name, "file-%07d", i);
    unlink((path + "/" + name).c_str());
  }
  unlink((path + "/" + tandrel::databaseFileName(true)).c_str());
  rmdir(path.c_str());
}

// The least any local listing costs: read the directory and look at each
// entry once, nothing kept. Returns the number of entries seen, -1 on failure.
int rawListing() {
  DIR* dir = opendir(".");
  if (dir == nullptr) return -1;
  int n = 0;
  struct stat st {};
  while (const dirent* e = readdir(dir)) {
    if (fstatat(dirfd(dir), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0) ++n;
  }
  closedir(dir);
  return n;
}

int countEntries(const tandrel::SideListing& listing, int state) {
  int n = 0;
  for (const tandrel::Entry& e : listing.entries())
    if (state < 0 || e.state == state) ++n;
  return n;
}

}  // namespace

int main(int argc, char** argv) {
  int entries = argc > 1 ? std::atoi(argv[1]) : 100000;
  int repeats = argc > 2 ? std::atoi(argv[2]) : 5;
  if (entries < 1 || repeats < 1) {
    std::fprintf(stderr, "usage: %s [ENTRIES [REPEATS]]\n", argv[0]);
    return 1;
  }
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/tandrel-bench-listing-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  const std::string dir = buffer.data();
  char cwd[4096];
  if (getcwd(cwd, sizeof cwd) == nullptr) cwd[0] = '\0';

  auto start = Clock::now();
  char name[32];
  for (int i = 0; i < entries; ++i) {
    std::snprintf(name, sizeof name, "file-%07d", i);
    int fd = open((dir + "/" + name).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
      std::perror("open");
      removeDirectory(dir, i);
      return 1;
    }
    close(fd);
  }
  std::printf("created %d files in %s in %.3f s\n", entries, dir.c_str(), secondsSince(start));
  if (chdir(dir.c_str()) != 0) {
    std::perror("chdir");
    removeDirectory(dir, entries);
    return 1;
  }

  tandrel::PosixLocalSide local;
  tandrel::CurlServerSide server;
  tandrel::Run run(local, server);
  bool ok = true;
  double first = 0;
  double save = 0;
  {
    tandrel::SideListing listing(run, true);
    start = Clock::now();
    ok = listing.open("") == 1;
    first = secondsSince(start);
    if (ok) {
      for (tandrel::Entry& e : listing.entries()) tandrel::commitEntry(&e, 1);
      start = Clock::now();
      listing.close();
      save = secondsSince(start);
    }
  }
  struct stat databaseStat {};
  stat(tandrel::databaseFileName(true), &databaseStat);
  std::printf("first listing (no database, %d new): %.3f s; database save (%lld bytes): %.3f s\n",
              entries, first, static_cast<long long>(databaseStat.st_size), save);

  std::vector<double> raw;
  for (int r = 0; ok && r < repeats; ++r) {
    start = Clock::now();
    int seen = rawListing();
    raw.push_back(secondsSince(start));
    if (seen < entries) ok = false;
  }
  std::sort(raw.begin(), raw.end());
  if (!raw.empty())
    std::printf("readdir plus lstat of every entry, nothing kept (the floor): median %.3f s\n",
                raw[raw.size() / 2]);

  std::vector<double> times;
  for (int r = 0; ok && r < repeats; ++r) {
    tandrel::SideListing listing(run, true);
    start = Clock::now();
    ok = listing.open("") == 1;
    double t = secondsSince(start);
    if (!ok) break;
    int unchanged = countEntries(listing, tandrel::Unchanged);
    int all = countEntries(listing, -1);
    listing.close();
    std::printf("listing plus merge %d: %.3f s (%d entries, %d unchanged)\n", r + 1, t, all,
                unchanged);
    if (unchanged != entries || all != entries) {
      std::fprintf(stderr, "expected %d unchanged entries\n", entries);
      ok = false;
    }
    times.push_back(t);
  }

  if (cwd[0] != '\0' && chdir(cwd) != 0) std::perror("chdir back");
  removeDirectory(dir, entries);
  if (!ok || times.empty()) {
    std::fprintf(stderr, "the listing failed\n");
    return 1;
  }
  std::sort(times.begin(), times.end());
  std::printf("result entries=%d median=%.4f min=%.4f max=%.4f first=%.4f save=%.4f raw=%.4f\n",
              entries, times[times.size() / 2], times.front(), times.back(), first, save,
              raw[raw.size() / 2]);
  return 0;
}
