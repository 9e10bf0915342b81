// What one run works with: the settings from the command line, the standing
// answers to the questions, the two sides, the state of the walk through the
// directory tree, and what it reports. The run driver creates one Run and passes it down to
// everything that reads or changes it; tests create their own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "console/reporter.h"
#include "storage/local_side.h"
#include "storage/server_side.h"

namespace tandrel {

// The longest value an option takes, in bytes.
inline constexpr size_t kMaxValueLength = 259;

struct RunSettings {
  std::string host;             // -h, as given (also host:port, ftp://, ftps://, ftpes://)
  std::string user;             // -u
  std::string password;         // -p
  bool passwordGiven = false;   // -p given, even empty: the netrc file is not read
  std::string serverDirectory;  // -s; empty: the log-in directory
  std::string localDirectory;   // -l; empty: the working directory at start
  bool recursive = false;       // -r: subdirectories too
  bool ftpWins = false;         // -f: the server side wins file conflicts
};

// Standing answers: a set one means the question is answered in advance (yes;
// for recreateDirectory, recreate). A person's Always sets one during the run.
struct StandingAnswers {
  bool deleteUnchangedFile = false;
  bool deleteUpdatedFile = false;
  bool overwrite = false;
  bool createDirectory = false;
  bool deleteDirectory = false;
  bool recreateDirectory = false;
};

// Everything the command line decides.
struct RunOptions {
  RunSettings settings;
  StandingAnswers always;
  // Set when -y gave the standing answers: nobody sees what a deletion takes, so
  // the run refuses deletions a person would have had to see (new files inside
  // a deleted directory, a side that suddenly lists as empty). A person's
  // Always sets the standing answer but not this.
  bool yesSwitch = false;
};

struct Run {
  Run(LocalSide& local, ServerSide& server, const RunOptions& options = {})
      : settings(options.settings),
        always(options.always),
        yesSwitch(options.yesSwitch),
        local(local),
        server(server) {}
  Run(const Run&) = delete;
  Run& operator=(const Run&) = delete;

  RunSettings settings;
  StandingAnswers always;
  bool yesSwitch = false;

  LocalSide& local;
  ServerSide& server;
  // The local side for isLocal, else the server side.
  Side& side(bool isLocal) const {
    if (isLocal) return local;
    return server;
  }

  // Set when a return to a parent directory failed inside a tree walk; the run
  // then stops and saves nothing more.
  bool lostInTree = false;
  // Set once the abort message has been printed.
  bool abortReported = false;
  // The local start directory, by device and inode (0, 0 until known): a link
  // back into the tree is not followed by the walk, nor by the purge.
  uint64_t localStartDevice = 0;
  uint64_t localStartInode = 0;
  // The local directories being synchronised, outermost first, by device and
  // inode: a link leading back into one of them would loop for ever.
  std::vector<std::pair<uint64_t, uint64_t>> openLocalDirectories;
  // Directories outside the tree that a link has already led to in this run.
  std::vector<std::pair<uint64_t, uint64_t>> linkedLocalDirectories;
  // The warning that the server gives no write times has been printed.
  bool warnedNoWriteTimes = false;
  // Prints the run's errors and counts its problems, for the exit status.
  Reporter report;
};

}  // namespace tandrel
