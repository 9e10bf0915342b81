// CurlServerSide: the connection, the current directory, and the commands
// that change the server's tree (deletions, renames, directories, transfers).
// Listings and look-ups are in server_curl_listing.cc.
#include "storage/server_curl.h"

#include <ctime>
#include <string_view>
#include <utility>

#include "storage/curl_connection.h"
#include "storage/listing_parser.h"
#include "storage/reserved_names.h"
#include "storage/server_path.h"

namespace tandrel {

namespace {

constexpr char kInvalidName[] = "Invalid file name\n";
constexpr char kNoReply[] = "No reply from the server\n";

// The name checks every command on a name makes first.
Status checkNameAndConnection(const CurlConnection& connection, const std::string& name) {
  if (Status status = checkName(name); !status.ok()) return status;
  return checkConnected(connection);
}

Status simpleCommand(CurlConnection& connection, const std::string& verb, const std::string& name) {
  if (Status checked = checkNameAndConnection(connection, name); !checked.ok()) return checked;
  Outcome outcome = connection.command(verb + " " + childPath(connection.current, name));
  if (outcome.code == CURLE_OK && isPositive(outcome.lastCode())) return Status::OK();
  return outcome.failure();
}

// Best effort after a failed upload: removes the temporary copy.
void discardTemporary(CurlConnection& connection, const std::string& temporary) {
  connection.command("DELE " + temporary);
}

// Ok when the last two replies of `outcome` are an accepted RNFR and RNTO;
// else the refusal.
Status renamed(const Outcome& outcome) {
  const std::vector<Reply>& replies = outcome.replies;
  const Reply* renameFrom = replies.size() >= 2 ? &replies[replies.size() - 2] : nullptr;
  const Reply* renameTo = outcome.lastReply();
  if (outcome.code == CURLE_OK && renameFrom && renameFrom->code / 100 == 3 && renameTo &&
      isPositive(renameTo->code)) {
    return Status::OK();
  }
  const Reply* refusal = renameFrom && renameFrom->code / 100 != 3 ? renameFrom : renameTo;
  return Status::refused(refusal ? refusal->text : std::string(kNoReply));
}

// Renames `from` to `to` (absolute paths) in one perform, so that a silent
// reconnection sends both commands again.
Status renameOnServer(CurlConnection& connection, const std::string& from, const std::string& to) {
  Request request;
  request.url = connection.directoryUrl();
  request.noBody = true;
  request.quote = {"*RNFR " + from, "*RNTO " + to};
  return renamed(connection.run(request));
}

}  // namespace

CurlServerSide::CurlServerSide() : connection_(std::make_unique<CurlConnection>()) {}

CurlServerSide::~CurlServerSide() = default;

Status CurlServerSide::connect(const LogIn& logIn) { return connection_->open(logIn); }

void CurlServerSide::disconnect() { connection_->close(); }

bool CurlServerSide::supportsMlst() const {
  return connection_->methods.lookUp == LookUpMethod::mlst;
}

void CurlServerSide::setProgressObserver(std::function<void(int64_t, int64_t)> observer) {
  connection_->transport().setProgressObserver(std::move(observer));
}

void CurlServerSide::setTransferWatch(TransferWatch* watch) {
  connection_->transport().setWatch(watch);
}

TransferWatch& CurlServerSide::transferWatch() { return connection_->transport().watch(); }

std::string CurlServerSide::currentDirectory() const { return connection_->current; }

Status CurlServerSide::changeDirectory(const std::string& name) {
  if (Status connected = checkConnected(*connection_); !connected.ok()) return connected;
  if (hasLineBreakOrNul(name)) return Status::refused(kInvalidName);
  CurlConnection& connection = *connection_;
  std::string target = resolvePath(connection.current, name);
  if (name == "..") {
    // Every request names its target by absolute path, and every listing
    // proves that its directory exists: the server's own current directory
    // can stay where it is.
    connection.current = target;
    return Status::OK();
  }
  // A directory this connection has just created is empty: the listing that
  // follows its entry need not ask.
  const bool knownEmpty = connection.created.erase(target) > 0;
  if (!knownEmpty && enterByListing(target)) return Status::OK();
  Outcome outcome = connection.command("CWD " + target);
  if (outcome.code != CURLE_OK || !isPositive(outcome.lastCode())) return outcome.failure();
  connection.current = target;
  connection.serverAt = target;
  if (knownEmpty) connection.listedOnEntry = CurlConnection::ListedOnEntry{target, {}};
  return Status::OK();
}

Status CurlServerSide::logInDirectoryKnown() {
  if (connection_->logInReply.empty()) return Status::OK();
  return Status::refused(connection_->logInReply);
}

Status CurlServerSide::enterStartDirectory(const std::string& path, Status& location) {
  location = Status::OK();
  if (Status connected = checkConnected(*connection_); !connected.ok()) return connected;
  if (hasLineBreakOrNul(path)) return Status::refused(kInvalidName);
  // The server is still in the log-in directory (nothing has changed it; every
  // request names an absolute path), and a reconnection within the perform
  // lands there again, so a relative value means what the user meant. Both
  // commands go in one perform, over one connection.
  Request request;
  request.url = connection_->directoryUrl();
  request.noBody = true;
  request.quote = {"*CWD " + path, "*PWD"};
  Outcome outcome = connection_->run(request);
  const size_t count = outcome.replies.size();
  if (outcome.code != CURLE_OK || count < 2 || !isPositive(outcome.replies[count - 2].code)) {
    if (outcome.code == CURLE_OK && count >= 2) {
      return Status::refused(outcome.replies[count - 2].text);
    }
    return outcome.failure();
  }
  std::string absolute;
  if (readPwdReply(outcome.replies.back(), absolute)) {
    connection_->current = resolvePath("/", absolute);
    connection_->serverAt = connection_->current;
  } else {
    location = Status::refused(outcome.replies.back().text);
    // By name only from a place the server named.
    if (!path.starts_with("/") && !connection_->logInReply.empty()) return location;
    connection_->current = resolvePath(connection_->current, path);
    connection_->serverAt = connection_->current;
  }
  return Status::OK();
}

Status CurlServerSide::deleteFile(const std::string& name) {
  return simpleCommand(*connection_, "DELE", name);
}

bool CurlServerSide::removeIfLink(const std::string& name) {
  if (isUnsafeName(name) || !connection_->isOpen()) return false;
  // DELE unlinks a link and is refused for a directory on every server that
  // sits on a POSIX file system, so nothing behind the link is touched.
  Outcome outcome = connection_->command("DELE " + childPath(connection_->current, name));
  return outcome.code == CURLE_OK && isPositive(outcome.lastCode());
}

Status CurlServerSide::createDirectory(const std::string& name) {
  if (Status made = simpleCommand(*connection_, "MKD", name); !made.ok()) return made;
  connection_->created.insert(childPath(connection_->current, name));
  return Status::OK();
}

Status CurlServerSide::removeDirectory(const std::string& name) {
  CurlConnection& connection = *connection_;
  const std::string path = childPath(connection.current, name);
  connection.created.erase(path);
  if (checkName(name).ok() && isAncestorOrSelf(path, connection.serverAt)) {
    // Some servers fail every later request once their current directory is
    // gone: the server leaves it first.
    if (connection.command("CWD " + connection.current).code == CURLE_OK) {
      connection.serverAt = connection.current;
    }
  }
  return simpleCommand(connection, "RMD", name);
}

Status CurlServerSide::download(const std::string& name, ByteSink& sink, int64_t& received,
                                ListRecord& after) {
  received = 0;
  after = ListRecord{};
  if (Status checked = checkNameAndConnection(*connection_, name); !checked.ok()) return checked;
  const std::string path = childPath(connection_->current, name);
  // Where a look-up costs one short command, the file is described again in
  // the same perform, once its data has arrived.
  const bool describe = connection_->methods.lookUp == LookUpMethod::mlst;
  Request request;
  request.url = connection_->fileUrl(path);
  request.sink = &sink;
  if (describe) request.postQuote = {"*MLST " + path};
  Outcome outcome = connection_->run(request);
  received = outcome.moved;
  if (outcome.code != CURLE_OK) return outcome.failure();
  if (describe && isPositive(outcome.lastCode())) {
    for (std::string_view line : innerLines(*outcome.lastReply())) {
      ListRecord record;
      if (parseMlsdLine(line, record)) {
        after = std::move(record);
        after.name = name;
        break;
      }
    }
    // Without "modify" the listing took its time from MDTM: so does the check.
    if (!after.name.empty() && after.timeShown == TimeShown::none) completeRecord(after);
  } else if (describe && outcome.lastCode() == 550) {
    // Gone by now: described as a file without a time.
    after.name = name;
  }
  return Status::OK();
}

Status CurlServerSide::upload(ByteSource& source, const std::string& name, int64_t& sent) {
  sent = 0;
  if (Status checked = checkNameAndConnection(*connection_, name); !checked.ok()) return checked;
  CurlConnection& connection = *connection_;
  const std::string target = childPath(connection.current, name);
  const std::string temporary = childPath(connection.current, temporaryName());

  // The rename is sent with "*" so that a refusal keeps the connection; its
  // outcome is read from the last two replies.
  Request request;
  request.url = connection.fileUrl(temporary);
  request.source = &source;
  request.postQuote = {"*RNFR " + temporary, "*RNTO " + target};
  Outcome outcome = connection.run(request);
  sent = outcome.moved;
  if (outcome.code != CURLE_OK) {
    if (outcome.transferStarted()) discardTemporary(connection, temporary);
    return outcome.failure();
  }
  Status refusal = renamed(outcome);
  if (refusal.ok()) return refusal;
  return replaceThroughAside(name, refusal);
}

Status CurlServerSide::replaceThroughAside(const std::string& name, const Status& refusal) {
  // Some servers rename only onto a free name. The old copy is moved aside
  // and the new one renamed into its place; if that is refused too, the old
  // copy goes back. The real name is never written directly, so a broken
  // transfer can never leave a short file there. The journal says what is
  // under way, so that a run cut off between the renames is settled by the
  // next one instead of leaving the file under no name.
  CurlConnection& connection = *connection_;
  const std::string target = childPath(connection.current, name);
  const std::string temporary = childPath(connection.current, temporaryName());
  ListRecord existing;
  if (!lookUp(name, existing).ok() || existing.kind != RecordKind::file) {
    discardTemporary(connection, temporary);
    return refusal;
  }
  const std::string asideLeaf = asideName(static_cast<int64_t>(std::time(nullptr)));
  const std::string aside = childPath(connection.current, asideLeaf);
  if (journal_) {
    if (Status unwritten = journal_->begin({name, temporaryName(), asideLeaf}); !unwritten.ok()) {
      discardTemporary(connection, temporary);
      return unwritten;
    }
  }
  const bool movedAside = renameOnServer(connection, target, aside).ok();
  Status placed = movedAside ? renameOnServer(connection, temporary, target) : refusal;
  if (placed.ok()) {
    // Should the old copy stay, the journal stays too, and the next run here
    // deletes it.
    if (isPositive(connection.command("DELE " + aside).lastCode()) && journal_) journal_->end();
    return placed;
  }
  if (journal_) {
    journal_->settle();
  } else {
    if (movedAside) (void)renameOnServer(connection, aside, target);
    discardTemporary(connection, temporary);
  }
  return placed;
}

Status CurlServerSide::renameFile(const std::string& from, const std::string& to) {
  if (Status checked = checkName(from); !checked.ok()) return checked;
  if (Status checked = checkNameAndConnection(*connection_, to); !checked.ok()) return checked;
  return renameOnServer(*connection_, childPath(connection_->current, from),
                        childPath(connection_->current, to));
}

}  // namespace tandrel
