#include "storage/curl_connection.h"

#include <cctype>

#include "storage/reserved_names.h"
#include "storage/server_path.h"

namespace tandrel {

namespace {

constexpr char kNoReply[] = "No reply from the server\n";
constexpr char kInvalidName[] = "Invalid file name\n";
constexpr char kNotConnected[] = "Not connected to the server\n";

}  // namespace

ServerMethods ServerMethods::fromFeatures(const Reply* features) {
  ServerMethods methods;
  if (!features || features->code != 211) return methods;
  for (std::string_view line : splitLines(features->text)) {
    while (!line.empty() && line.front() == ' ') line.remove_prefix(1);
    // Feature names are case-insensitive.
    std::string feature(line.substr(0, line.find(' ')));
    for (char& c : feature) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (feature == "MLST") {
      methods.lookUp = LookUpMethod::mlst;
      methods.listing = ListingMethod::mlsd;
    }
  }
  return methods;
}

Status CurlConnection::open(const LogIn& logIn) {
  if (Status opened = transport_.open(logIn); !opened.ok()) return opened;
  methods = ServerMethods{};
  listedOnEntry.reset();
  created.clear();

  Request request;
  request.url = directoryUrl();
  request.noBody = true;
  request.quote = {"*FEAT"};
  Outcome outcome = transport_.perform(request);
  if (outcome.code != CURLE_OK) {
    close();
    return outcome.failure();
  }
  // Read right away: libcurl forgets the entry path after a failed perform.
  const char* entryPath = transport_.entryPath();
  current = entryPath && entryPath[0] == '/' ? resolvePath("/", entryPath) : "/";
  // libcurl reads the log-in directory from the quoted path of the PWD reply;
  // without one, where the server put us is unknown.
  logInReply.clear();
  if (!entryPath || entryPath[0] != '/') {
    logInReply = kNoReply;
    for (const Reply& reply : outcome.replies) {
      if (reply.code == 257) logInReply = reply.text;
    }
  }
  serverAt = current;
  methods = ServerMethods::fromFeatures(outcome.lastReply());
  return Status::OK();
}

Outcome CurlConnection::run(const Request& request) {
  listedOnEntry.reset();
  return transport_.run(request);
}

Outcome CurlConnection::command(const std::string& line) {
  listedOnEntry.reset();
  return transport_.command(line);
}

Status checkName(const std::string& name) {
  if (!isUnsafeName(name)) return Status::OK();
  return Status::refused(kInvalidName);
}

Status checkConnected(const CurlConnection& connection) {
  if (connection.isOpen()) return Status::OK();
  return Status::transport(kNotConnected);
}

}  // namespace tandrel
