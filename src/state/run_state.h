// The process-wide state of a run: the settings from the command line, the
// standing answers to the questions, and the two flags of a run that lost its
// place in the directory tree. All start at zero or empty.
#pragma once

#include <string>

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
  int recursive = 0;            // -r: subdirectories too
  int ftpWins = 0;              // -f: the server side wins file conflicts
};

extern RunSettings settings;

// Standing answers: 1 means the question is answered yes in advance.
extern int alwaysDeleteUnchangedFile;
extern int alwaysDeleteUpdatedFile;
extern int alwaysOverwrite;
extern int alwaysCreateDirectory;
extern int alwaysDeleteDirectory;
extern int alwaysRecreateDirectory;
// 1 when -y gave the standing answers: nobody sees what a deletion takes, so
// the run refuses deletions a person would have had to see (new files inside
// a deleted directory, a side that suddenly lists as empty). A person's
// Always sets the standing answer but not this.
extern int yesSwitch;

// Set when a return to a parent directory failed inside a tree walk; the run
// then stops and saves nothing more.
extern int lostInTree;
// Set once the abort message has been printed.
extern int abortReported;

// Puts everything above back to its start values (for tests).
void resetRunState();

}  // namespace tandrel
