// A fixture for end-to-end runs of the whole two-way synchronisation: a local
// tree, a server directory on a real server of each kind (pyftpdlib, vsftpd,
// pure-ftpd), the built tool run under a terminal with scripted answers, and
// checks of the whole output, both trees, the exit status and the state
// databases.
//
// Within one test process a server of each kind is started once and serves
// every test of the suite that runs there (ctest runs one test per process, a
// plain run of the binary runs them all); each test gets a fresh directory of
// its own on it (the tool's -s), so tests never see each other's files.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "support/ftp_server.h"
#include "support/pty_run.h"
#include "support/temp_tree.h"

namespace tandrel::testing {

// The questions of the tool, byte for byte. `side` is "local" or "server".
std::string existsQuestion(const std::string& name, const std::string& side);
std::string changedQuestion(const std::string& name, const std::string& side);
std::string deleteQuestion(const std::string& name, const std::string& side);
std::string stillDeleteQuestion(const std::string& name, const std::string& side);
// "Server directory ..." when side is "server", "Local directory ..." otherwise.
std::string createDirectoryQuestion(const std::string& name, const std::string& side);
// The directory `name` would be deleted on `side` and recreated on the other.
std::string deleteDirectoryQuestion(const std::string& name, const std::string& side);

// The progress lines.
std::string creating(const std::string& name, const std::string& side);
std::string updating(const std::string& name, const std::string& side);
std::string deleting(const std::string& name, const std::string& side);
std::string deletingDirectory(const std::string& name, const std::string& side);
std::string entering(const std::string& name);
// An expected line of which only the beginning is known (an error followed by
// a server's or the system's own text).
std::string lineStartingWith(const std::string& prefix);
// Whether `actual` holds exactly the lines of `expected`, where a line made with
// lineStartingWith only has to begin as given.
bool outputMatches(const std::string& expected, const std::string& actual);

// A question and the key that answers it.
struct Answer {
  std::string question;
  std::string key;
};
// What the terminal shows for an answered question: the question, the echoed
// key and the line break.
std::string asked(const Answer& answer);

// What the state databases of one local directory hold, for comparisons.
struct DatabaseFile {
  std::string bytes;
  std::int64_t mtimeNanoseconds = 0;
  std::uint64_t inode = 0;
  bool operator==(const DatabaseFile&) const = default;
};
// Every "zztandrel.*" file under a local root, by relative path.
using DatabaseFiles = std::map<std::string, DatabaseFile>;

class SyncTest : public ::testing::TestWithParam<ServerKind> {
 protected:
  void SetUp() override;
  void TearDown() override { std::remove(faultsFile().c_str()); }
  static void TearDownTestSuite();
  // pyftpdlib's faults file (format in pyftpd_server.py), absent unless a test writes it.
  static std::string faultsFile() { return "/tmp/tandrel-faults-" + std::to_string(getpid()); }

  // Runs the tool on `local` and the test's server directory with `options`
  // added to the log-in and directory options, answering `answers` in order.
  RunResult sync(const std::vector<std::string>& options = {},
                 const std::vector<Answer>& answers = {});

  // The output of the last run after the start lines is `actions` (byte for
  // byte, except lines made with lineStartingWith), the run ended with
  // `status`, nothing went to standard error, no tool file reached the server
  // and no temporary file is left on either side.
  void expectActions(const std::string& actions, int status = 0);
  // Both trees hold the same files with the same contents (state files aside).
  void expectTreesEqual();
  // The files of each tree, as snapshots without the tool's files.
  std::string localFiles() const { return local.snapshot({.skipToolFiles = true}); }
  std::string serverFiles() const { return server.snapshot({.skipToolFiles = true}); }

  // The names recorded in the local ("zztandrel.zzlocaldb") or the server
  // ("zztandrel.zzserverdb") database of the local directory `directory` ("" for
  // the start directory), in file order, separated by spaces; directories end
  // with '/', files recorded with write time 0 with "(0)". "(none)" when the
  // file does not exist, "(damaged)" when it does not parse.
  std::string localRecords(const std::string& directory = "") const;
  std::string serverRecords(const std::string& directory = "") const;

  DatabaseFiles databaseFiles() const;

  // Runs again with `options` and nothing changed on either side: the run
  // prints `actions` (only directory lines, if any), asks nothing, changes
  // neither tree and rewrites no database file.
  void expectQuietRerun(const std::vector<std::string>& options = {},
                        const std::string& actions = "");

  // A first run with -r -y that puts everything on both sides and records it;
  // afterwards both trees are equal.
  void recordBothSides();

  // Write times: old ones for files as the test first makes them, and later
  // ones, each clearly (whole days) after anything recorded so far, to make a
  // change visible on either server at any listing precision.
  std::int64_t old() const { return startTime_ - 10 * 86400; }
  std::int64_t later(int step = 1) const { return startTime_ + 2 * step * 86400; }

  ServerKind kind() const { return GetParam(); }
  FtpServer& ftp() { return *servers_[GetParam()]; }

  TempTree local;
  // The test's own directory on the server, as files on disk.
  Tree server{""};
  // The tool's -s value: the test's directory, relative to the log-in directory.
  std::string serverDirectory;
  RunResult last;

 private:
  std::string startLines();
  std::string records(const std::string& directory, const char* file) const;

  std::int64_t startTime_ = 0;
  static std::map<ServerKind, std::unique_ptr<FtpServer>> servers_;
  static int nextDirectory_;
};

// For INSTANTIATE_TEST_SUITE_P: one instance per server, named after it.
std::string serverParameterName(const ::testing::TestParamInfo<ServerKind>& info);

}  // namespace tandrel::testing
