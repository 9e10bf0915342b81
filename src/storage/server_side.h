// The operations the tool performs on the FTP server. One logged-in connection
// serves the whole run. The server's current directory is kept here as an
// absolute path, and every request names its target by absolute path, so a
// reconnection (after an idle drop) carries on in the same directory. Each call
// returns its Status: ok on success; refused with the server's reply lines when
// the server said no, notFound when the name does not exist, transport below
// the protocol.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "storage/transfer_watch.h"
#include "storage/byte_stream.h"
#include "storage/list_record.h"
#include "storage/replacement_journal.h"
#include "storage/side.h"

namespace tandrel {

enum class Security {
  none,      // plain FTP
  implicit,  // ftps://: TLS from the first byte (default port 990)
  explicit_, // ftpes://: AUTH TLS on the plain port (default port 21)
};

struct ServerAddress {
  std::string host;  // name or address; an IPv6 address without brackets
  int port = 21;
  Security security = Security::none;
};

struct LogIn {
  ServerAddress address;
  std::string user;
  std::string password;
  // When not empty, the password (and, without a user, the user too) comes
  // from the entry for the host in this netrc file; `password` is not used.
  std::string netrcFile = {};
};

class ServerSide : public Side {
 public:
  // Connects and logs in; the current directory becomes the log-in directory.
  virtual Status connect(const LogIn& logIn) = 0;
  // Ends the connection (QUIT); safe to call when not connected.
  virtual void disconnect() = 0;

  // Changes the current directory: an absolute path, a path relative to the
  // current directory, or ".." (the parent of the tracked path). The server is
  // asked to change into the directory, so a missing one fails.
  virtual Status changeDirectory(const std::string& name) = 0;
  // Ok when the server said where the log-in put it (an absolute path in its
  // reply to PWD). When not, that reply, refused: only an absolute path then
  // tells where the run is on the server.
  virtual Status logInDirectoryKnown() { return Status::OK(); }
  // Enters the start directory `path` as the server reads it: the value goes to
  // the server unchanged (so its own forms, such as "~", work), right after
  // the log-in, and the server is then asked for the absolute path, which is
  // tracked from then on. When the server's answer holds no absolute path,
  // `location` receives that answer, refused, and the path is tracked by name
  // as changeDirectory would; when that cannot be done either (a relative path
  // from a log-in directory the server did not name), the call fails with that
  // answer. `location` is ok when the server named the path.
  virtual Status enterStartDirectory(const std::string& path, Status& location) {
    location = Status::OK();
    return changeDirectory(path);
  }
  // The tracked absolute path of the current directory.
  virtual std::string currentDirectory() const = 0;

  // Every entry of the current directory ("." and ".." excluded). The listing is
  // taken only right after the server accepted a change into the directory on
  // the same connection, so a directory that vanished fails instead of listing
  // as empty.
  virtual Status list(std::vector<ListRecord>& records) = 0;
  // One entry of the current directory, in the same representation its listing
  // gives (same time precision). notFound if the server does not show it.
  virtual Status lookUp(const std::string& name, ListRecord& record) = 0;

  virtual Status deleteFile(const std::string& name) = 0;
  // Renames the file `from` to `to`, both in the current directory; a server
  // may refuse when `to` exists.
  virtual Status renameFile(const std::string& from, const std::string& to) = 0;
  // Removes `name` if it is a link, which some servers list as the directory
  // it leads to; a directory is never removed by it. True when `name` was
  // such an entry and is gone.
  virtual bool removeIfLink(const std::string& name) {
    (void)name;
    return false;
  }
  virtual Status createDirectory(const std::string& name) = 0;
  virtual Status removeDirectory(const std::string& name) = 0;

  // Reads the server file `name` into `sink`. `received` counts the bytes.
  // Where a look-up is cheap, `after` receives the file's record as the server
  // describes it once the data has arrived (write time 0 when it is gone by
  // then); otherwise its name stays empty.
  virtual Status download(const std::string& name, ByteSink& sink, int64_t& received,
                          ListRecord& after) = 0;
  // Writes `source` to the server file `name` without ever writing that name
  // directly: the data goes to the run's temporary name and is renamed over
  // `name` when complete. When the server refuses to rename over an existing
  // file, the old copy is moved aside to a temporary name, and put back if the
  // new copy still cannot take its place. On failure the temporary copy is
  // removed and `name` is as it was. `sent` counts the bytes.
  virtual Status upload(ByteSource& source, const std::string& name, int64_t& sent) = 0;
  // How many look-ups of single entries cost about as much as one listing of
  // the current directory.
  virtual size_t lookUpsPerListing() const { return 3; }

  // Where a replacement that takes more than one rename is recorded while it
  // is under way (nullptr: nowhere). The caller keeps ownership.
  virtual void setReplacementJournal(ReplacementJournal* journal) { (void)journal; }

  // What this side's requests ask whether to stop, and what a transfer
  // reports its progress to (transfer.h); nullptr: unwatched. The caller keeps
  // ownership.
  virtual void setTransferWatch(TransferWatch* watch) { (void)watch; }
  virtual TransferWatch& transferWatch() { return unwatchedTransfers(); }

  // Called during downloads and uploads with the bytes moved so far and the
  // total (0 when unknown); an empty function turns it off. Sides that cannot
  // tell progress ignore it.
  virtual void setProgressObserver(std::function<void(int64_t done, int64_t total)> observer) {
    (void)observer;
  }
};

}  // namespace tandrel
