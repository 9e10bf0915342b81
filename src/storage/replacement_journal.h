// The journal of a replacement on the server that takes more than one rename.
//
// A server that refuses to rename a new copy over an existing file gets the
// old copy moved aside first, then the new one renamed into place, then the
// old one deleted. Between those steps the file is under no real name, so
// before the first of them a small record ("zztandrel.zzjournal") goes to the
// local directory that matches the server directory: the real name, the
// temporary name and the aside name. Whichever run comes next to that
// directory settles the replacement before the server is listed, and only
// then removes the record.
#pragma once

#include <string>

#include "storage/status.h"

namespace tandrel {

struct Replacement {
  std::string name;       // the real name
  std::string temporary;  // the complete new copy
  std::string aside;      // where the old copy is moved to
};

class ReplacementJournal {
 public:
  virtual ~ReplacementJournal() = default;
  // Writes the record into the local working directory and flushes it to
  // disk. A failure means it could not be written: the replacement must then
  // not start.
  virtual Status begin(const Replacement& replacement) = 0;
  // The replacement is complete (the new copy under the real name, the old
  // one gone): removes the record.
  virtual void end() = 0;
  // Brings the server directory to a state in which the content is under the
  // real name (see settleReplacement) and removes the record; false, record
  // kept, when the server could not be asked or did not do it.
  virtual bool settle() = 0;
};

class LocalSide;
class ServerSide;

// The journal of the local working directory, settled through `server` with
// the server in the matching directory.
class LocalReplacementJournal : public ReplacementJournal {
 public:
  LocalReplacementJournal(LocalSide& local, ServerSide& server) : local_(local), server_(server) {}
  Status begin(const Replacement& replacement) override;
  void end() override;
  bool settle() override;

 private:
  LocalSide& local_;
  ServerSide& server_;
};

// Reads the record of the local working directory, if any, and settles it on
// the server's current directory. With the old copy still aside and no file
// under the real name, the old copy goes back and the new one is deleted (the
// local side still holds it, and shows it as changed); with the new copy under
// the real name, the old one is deleted; with no file under the real name and
// no old copy, the new copy takes the name. Returns true when there was no
// record or it is settled and removed.
bool settleReplacement(LocalSide& local, ServerSide& server);

}  // namespace tandrel
