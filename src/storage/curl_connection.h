// The server side's one connection: the transport and what is known about the
// server on it. The server's current directory is tracked here as an absolute
// path; how the server is asked for listings and single entries is decided
// once, as a value, and read by every command.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "storage/curl_transport.h"

namespace tandrel {

// How a single entry is looked up.
enum class LookUpMethod {
  mlst,  // MLST on the control connection, in the MLSD representation
  stat,  // STAT on the control connection, in LIST format
};

// How a directory is listed. Only where the server did not announce MLST is
// the way found out, at the first listing that can tell.
enum class ListingMethod {
  mlsd,     // MLSD of the path over a data connection
  untried,  // not known yet: STAT and a CWD with "LIST -a" in one perform
  stat,     // STAT of the path, answered on the control connection
  list,     // a CWD and "LIST -a" over a data connection
};

struct ServerMethods {
  LookUpMethod lookUp = LookUpMethod::stat;
  ListingMethod listing = ListingMethod::untried;

  // From the server's FEAT reply at log-in.
  static ServerMethods fromFeatures(const Reply* features);
};

class CurlConnection {
 public:
  // Connects, logs in and reads the server's features and the log-in
  // directory.
  Status open(const LogIn& logIn);
  void close() { transport_.close(); }
  bool isOpen() const { return transport_.isOpen(); }

  // The transport's own, but any request may change the server's directory,
  // so the note that the current directory was just made empty is dropped.
  Outcome run(const Request& request);
  Outcome command(const std::string& line);
  std::string directoryUrl() const { return transport_.directoryUrl(); }
  std::string fileUrl(const std::string& path) const { return transport_.fileUrl(path); }
  CurlTransport& transport() { return transport_; }

  ServerMethods methods;
  std::string current = "/";
  // Empty when the log-in directory is known; else the server's reply to PWD.
  std::string logInReply;
  // Where the server's own current directory is: a return to the parent only
  // moves `current`.
  std::string serverAt = "/";
  // Directories this connection created and has not entered since: empty.
  std::set<std::string> created;
  // The listing of the directory just entered where the entry itself produced
  // it (empty for a directory of `created`, or the STAT listing that proved
  // the directory), for the list() that follows; any other request drops it,
  // as it may change the directory.
  struct ListedOnEntry {
    std::string path;
    std::vector<std::string> lines;
  };
  std::optional<ListedOnEntry> listedOnEntry;
  // Whether a server link, by absolute path, could be entered, found out once.
  std::map<std::string, bool> linkIsDirectory;
  // What the server reported (PWD) as the real path of a server link to a
  // directory, by tracked path.
  std::map<std::string, std::string> linkRealPath;
  // The MLSD "unique" fact of directories, by tracked path.
  std::map<std::string, std::string> uniqueOfPath;

 private:
  CurlTransport transport_;
};

// Refuses a name before it can reach the wire (a CR or LF inside a command
// would be sent as a second command), saying why.
Status checkName(const std::string& name);
// Fails, saying so, when there is no connection.
Status checkConnected(const CurlConnection& connection);

}  // namespace tandrel
