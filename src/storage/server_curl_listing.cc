// CurlServerSide: listings of the current directory and look-ups of single
// entries, and what the server's link entries are.
#include <ctime>
#include <string_view>
#include <utility>

#include "storage/curl_connection.h"
#include "storage/listing_parser.h"
#include "storage/reserved_names.h"
#include "storage/server_curl.h"
#include "storage/server_path.h"

namespace tandrel {

namespace {

constexpr char kNoSuchEntry[] = "No such file or directory\n";

// LIST lines without a year are dated against this clock.
int64_t now() { return static_cast<int64_t>(std::time(nullptr)); }

// The reply to the first command of the perform that starts with `verb`.
const Reply* replyTo(const Outcome& outcome, std::string_view verb) {
  for (const Reply& reply : outcome.replies) {
    if (reply.command.starts_with(verb)) return &reply;
  }
  return nullptr;
}

// How one listing is asked for: over a data connection (of the server's
// current directory, or by path with MLSD), by STAT on the control
// connection, or both, to find out whether STAT can stand for the other.
enum class ListingWay { data, control, both };

ListingWay listingWay(const CurlConnection& connection, const std::string& path) {
  // STAT lists in LIST format, so an MLSD server keeps its own precision; a
  // path STAT could take as a pattern is listed the long way.
  switch (connection.methods.listing) {
    case ListingMethod::mlsd:
    case ListingMethod::list:
      return ListingWay::data;
    case ListingMethod::stat:
      return hasPatternCharacters(path) ? ListingWay::data : ListingWay::control;
    case ListingMethod::untried:
      break;
  }
  return hasPatternCharacters(path) ? ListingWay::data : ListingWay::both;
}

ListingFormat formatOf(const CurlConnection& connection) {
  return connection.methods.listing == ListingMethod::mlsd ? ListingFormat::mlsd
                                                           : ListingFormat::list;
}

// The lines of a positive STAT reply that shows the directory itself ("."). A
// server that lists a missing directory as empty shows no "." for it, so such
// a reply proves the directory exists. Each line keeps every byte of its name
// up to the reply's own line end.
bool readStatListing(const Outcome& outcome, std::vector<std::string>& lines) {
  const Reply* reply = replyTo(outcome, "STAT ");
  if (!reply || !isPositive(reply->code)) return false;
  bool showsItself = false;
  lines.clear();
  for (std::string_view line : innerLines(*reply)) {
    showsItself |= line.starts_with("d") && line.ends_with(" .");
    lines.emplace_back(line);
  }
  return showsItself;
}

// The listing of `path` by STAT, where the answer shows the directory itself.
bool listByStat(CurlConnection& connection, const std::string& path,
                std::vector<std::string>& lines) {
  Request request;
  request.url = connection.directoryUrl();
  request.noBody = true;
  request.quote = {"*STAT " + path};
  Outcome outcome = connection.run(request);
  return outcome.code == CURLE_OK && readStatListing(outcome, lines);
}

// `text`, lines ending in "\n", without the LIST line of a directory named "..".
std::string withoutParentLine(std::string_view text) {
  std::string kept;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    const std::string_view line =
        text.substr(0, end == std::string_view::npos ? text.size() : end + 1);
    std::string_view bare = line.substr(0, line.find_last_not_of("\r\n") + 1);
    if (!(bare.starts_with("d") && bare.ends_with(" .."))) kept += line;
    text.remove_prefix(line.size());
  }
  return kept;
}

// Takes the listing of `path` (the tracked current directory) so that a
// directory that is not there fails instead of listing as empty: by STAT
// where its answer shows the directory itself, by MLSD of the path (which
// fails for a missing directory), else by a change into the directory and a
// LIST in one perform. When the way is not known yet, STAT goes along with
// the LIST, and the method is settled by comparing the two.
Status fetchListing(CurlConnection& connection, const std::string& path,
                    std::vector<std::string>& lines) {
  ListingWay way = listingWay(connection, path);
  if (way == ListingWay::control) {
    if (listByStat(connection, path, lines)) return Status::OK();
    way = ListingWay::data;
  }
  Request request;
  std::string data;
  if (connection.methods.listing == ListingMethod::mlsd) {
    request.url = connection.fileUrl(path) + "/";
    // Some servers fail a listing while their own current directory is one
    // that has gone since: after a return to the parent, the server follows.
    if (connection.serverAt != path) request.quote = {"*CWD " + path};
    request.customRequest = "MLSD";
  } else {
    // The CWD has no "*": a refusal ends the perform before the listing.
    request.url = connection.directoryUrl();
    request.quote = {"CWD " + path};
    if (way == ListingWay::both) request.quote.push_back("*STAT " + path);
    request.customRequest = "LIST -a";
  }
  request.listing = &data;
  Outcome outcome = connection.run(request);
  if (!request.quote.empty()) connection.serverAt = path;
  if (outcome.code != CURLE_OK) return outcome.failure();
  if (way == ListingWay::both) {
    // Byte for byte, line ends included: STAT stands for the listing only
    // where the two can never be told apart. The parent's line is left out:
    // the parent is not listed, and another client may change it between the
    // two answers.
    std::vector<std::string> statLines;
    std::string statData;
    const bool shown = readStatListing(outcome, statLines);
    for (const std::string& line : statLines) statData += line + "\n";
    connection.methods.listing =
        shown && withoutParentLine(statData) == withoutParentLine(data) ? ListingMethod::stat
                                                                        : ListingMethod::list;
  }
  lines = linesOfListingData(data, formatOf(connection), now());
  return Status::OK();
}

// The real path of the tracked path `path`: what the server reported for the
// deepest link on the way there, followed by the names below it.
std::string realPathOf(const CurlConnection& connection, const std::string& path) {
  for (std::string prefix = path;; prefix = resolvePath(prefix, "..")) {
    auto found = connection.linkRealPath.find(prefix);
    if (found != connection.linkRealPath.end()) {
      std::string below = ".";
      below.append(path, prefix.size());
      return resolvePath(found->second, below);
    }
    if (prefix == "/") return path;
  }
}

// A look-up by STAT: found, failed (with the failure in `failure`), or not
// decided (the server may have taken the name as a pattern, or said nothing
// useful).
enum class StatLookUp { found, failed, undecided };

bool findInStatLines(CurlConnection& connection, const std::vector<std::string_view>& lines,
                     const std::string& name, const std::string& path, ListRecord& record) {
  const int64_t listedAt = now();
  // vsftpd may answer for a file with "." and ".." lines beside the file's
  // own (a file named like a directory of its path, looked up from inside
  // that directory), and a directory's listing may hold a child of its own
  // name: where both readings fit, SIZE, which answers only for files, decides.
  bool withDot = false;
  for (std::string_view line : lines) withDot |= line.size() > 2 && line.ends_with(" .");
  for (std::string_view line : lines) {
    if (!parseListLine(line, listedAt, record) || record.name != name) continue;
    if (!withDot || record.isDirectory()) return true;
    Outcome size = connection.command("SIZE " + path);
    if (size.code == CURLE_OK && isPositive(size.lastCode())) return true;
    break;
  }
  for (std::string_view line : lines) {
    if (line.size() > 2 && line.substr(line.size() - 2) == " .") {
      // parseListLine refuses "." as a name: give it the name looked up.
      std::string renamed = std::string(line.substr(0, line.size() - 1)) + "x";
      if (parseListLine(renamed, listedAt, record) && record.name == "x" &&
          record.isDirectory()) {
        record.name = name;
        return true;
      }
    }
  }
  for (std::string_view line : lines) {
    if (parseListLine(line, listedAt, record) && record.name == name) return true;
  }
  return false;
}

StatLookUp lookUpByStat(CurlConnection& connection, const std::string& name,
                        const std::string& path, ListRecord& record, Status& failure) {
  // STAT answers on the control connection with the entry in LIST format; for
  // a directory it lists the directory's contents instead, where "." stands
  // for the directory itself.
  Outcome outcome = connection.command("STAT " + path);
  if (outcome.code != CURLE_OK) {
    failure = outcome.failure();
    return StatLookUp::failed;
  }
  bool emptyAnswer = false;
  if (isPositive(outcome.lastCode())) {
    std::vector<std::string_view> lines = innerLines(*outcome.lastReply());
    emptyAnswer = lines.empty();
    if (findInStatLines(connection, lines, name, path, record)) return StatLookUp::found;
  }
  if (emptyAnswer && !hasPatternCharacters(name)) {
    failure = Status::notFound(kNoSuchEntry);
    return StatLookUp::failed;
  }
  return StatLookUp::undecided;
}

}  // namespace

bool CurlServerSide::enterByListing(const std::string& target) {
  CurlConnection& connection = *connection_;
  if (listingWay(connection, target) != ListingWay::control) return false;
  std::vector<std::string> lines;
  // A directory the server cannot enter answers with no "." line (vsftpd
  // answers with nothing at all): the change into it then says why.
  if (!listByStat(connection, target, lines)) return false;
  connection.current = target;
  connection.listedOnEntry = CurlConnection::ListedOnEntry{target, std::move(lines)};
  return true;
}

Status CurlServerSide::list(std::vector<ListRecord>& records) {
  records.clear();
  if (Status connected = checkConnected(*connection_); !connected.ok()) return connected;
  CurlConnection& connection = *connection_;
  std::vector<std::string> lines;
  if (connection.listedOnEntry && connection.listedOnEntry->path == connection.current) {
    lines = std::move(connection.listedOnEntry->lines);
    connection.listedOnEntry.reset();
  } else if (Status fetched = fetchListing(connection, connection.current, lines); !fetched.ok()) {
    return fetched;
  }
  const int64_t listedAt = now();
  for (const std::string& line : lines) {
    ListRecord record;
    const LineKind kind = readListingLine(line, formatOf(connection), listedAt, record);
    if (kind == LineKind::noEntry) continue;
    // A line we cannot read and a name that could lead out of the directory
    // are passed on, marked, so that the run can say so and hold back what
    // they may stand for; a name with a line break, so that it can say it
    // skips it.
    if (kind == LineKind::unreadable) {
      record = ListRecord{};
      record.kind = RecordKind::unreadable;
      record.name = line.substr(0, line.find_last_not_of('\r') + 1);
    } else if (record.name.find('/') != std::string::npos) {
      record.kind = RecordKind::leadsOut;
    }
    records.push_back(std::move(record));
  }
  rememberUniques(records);
  for (ListRecord& record : records) completeRecord(record);
  return Status::OK();
}

void CurlServerSide::rememberUniques(const std::vector<ListRecord>& records) {
  bool anyUnique = false;
  for (const ListRecord& record : records) {
    if (!record.isDirectory() || record.unique.empty()) continue;
    anyUnique = true;
    // The latest listing wins: a directory removed and made again is another one.
    connection_->uniqueOfPath.insert_or_assign(childPath(connection_->current, record.name),
                                               record.unique);
  }
  // The directory's own fact comes from its parent's listing; where the walk
  // began, from MLST.
  if (!anyUnique || connection_->uniqueOfPath.count(connection_->current) != 0) return;
  Outcome outcome = connection_->command("MLST " + connection_->current);
  if (outcome.code != CURLE_OK || !isPositive(outcome.lastCode())) return;
  for (std::string_view line : innerLines(*outcome.lastReply())) {
    ListRecord here;
    if (parseMlsdLine(line, here) && !here.unique.empty()) {
      connection_->uniqueOfPath.emplace(connection_->current, here.unique);
      return;
    }
  }
}

bool CurlServerSide::isDirectoryLink(const std::string& path) {
  auto known = connection_->linkIsDirectory.find(path);
  if (known != connection_->linkIsDirectory.end()) return known->second;
  // Where the link leads, the server says after entering it. Every request
  // names its target by absolute path, so the server may stay inside: the
  // tracked position says where it is, for the requests that care.
  Request request;
  request.url = connection_->directoryUrl();
  request.noBody = true;
  request.quote = {"*CWD " + path, "*PWD"};
  Outcome entered = connection_->run(request);
  if (entered.code != CURLE_OK || entered.replies.size() < 2) return false;  // try again next time
  const bool isDirectory = isPositive(entered.replies[entered.replies.size() - 2].code);
  std::string real;
  if (isDirectory && readPwdReply(entered.replies.back(), real)) {
    connection_->linkRealPath.emplace(path, resolvePath("/", real));
  }
  if (isDirectory) connection_->serverAt = path;
  connection_->linkIsDirectory.emplace(path, isDirectory);
  return isDirectory;
}

bool CurlServerSide::leadsBack(const ListRecord& record, const std::string& path) {
  // A directory met again under another path: the unique fact names the
  // directory itself (servers that list a link by its target's facts).
  if (!record.unique.empty()) {
    for (std::string above = connection_->current;; above = resolvePath(above, "..")) {
      auto known = connection_->uniqueOfPath.find(above);
      if (known != connection_->uniqueOfPath.end() && known->second == record.unique) return true;
      if (above == "/") break;
    }
  }
  auto real = connection_->linkRealPath.find(path);
  return real != connection_->linkRealPath.end() &&
         isAncestorOrSelf(real->second, realPathOf(*connection_, connection_->current));
}

void CurlServerSide::completeRecord(ListRecord& record) {
  if (isUnsafeName(record.name)) return;
  const std::string path = childPath(connection_->current, record.name);
  if (record.kind == RecordKind::directory) {
    record.loop = leadsBack(record, path);
    return;
  }
  if (record.kind != RecordKind::file) return;
  if (record.isLink) {
    // A link back to this directory or one above it would lead the walk round
    // for ever.
    const std::string target = resolvePath(connection_->current, record.linkTarget);
    const bool upwards = !record.linkTarget.empty() &&
                         isAncestorOrSelf(target, connection_->current);
    if (upwards || isDirectoryLink(path)) {
      record.kind = RecordKind::directory;
      record.loop = upwards || leadsBack(record, path);
      return;
    }
    // A link that cannot be entered is a file, or leads nowhere: then every
    // copy would fail.
    Outcome outcome = connection_->command("MDTM " + path);
    if (outcome.code == CURLE_OK && outcome.lastCode() == 550) {
      record.kind = RecordKind::danglingLink;
      return;
    }
  }
  if (record.timeShown == TimeShown::none) {
    // The listing gave no time (an MLSD without "modify"): every time of such
    // a file comes from MDTM, so times of one source are compared.
    Outcome outcome = connection_->command("MDTM " + path);
    const Reply* reply = outcome.lastReply();
    if (outcome.code == CURLE_OK && reply && reply->code == 213 && reply->text.size() > 4 &&
        parseModificationTime(reply->text.substr(4), record.writeTime)) {
      record.timeShown = TimeShown::all;
    }
  }
}

Status CurlServerSide::lookUp(const std::string& name, ListRecord& record) {
  if (Status checked = checkName(name); !checked.ok()) return checked;
  if (Status connected = checkConnected(*connection_); !connected.ok()) return connected;
  const std::string path = childPath(connection_->current, name);
  if (connection_->methods.lookUp == LookUpMethod::mlst) return lookUpByMlst(name, path, record);
  Status failure;
  const StatLookUp answer = lookUpByStat(*connection_, name, path, record, failure);
  if (answer == StatLookUp::found) return Status::OK();
  if (answer == StatLookUp::failed) return failure;
  // The server took the name as a pattern, or STAT said nothing useful: find
  // the name in the directory's listing.
  std::vector<ListRecord> records;
  if (Status listed = list(records); !listed.ok()) return listed;
  for (ListRecord& candidate : records) {
    if (candidate.name == name && candidate.kind != RecordKind::unreadable) {
      record = std::move(candidate);
      return Status::OK();
    }
  }
  return Status::notFound(kNoSuchEntry);
}

Status CurlServerSide::lookUpByMlst(const std::string& name, const std::string& path,
                                    ListRecord& record) {
  Outcome outcome = connection_->command("MLST " + path);
  if (outcome.code == CURLE_OK && isPositive(outcome.lastCode())) {
    for (std::string_view line : innerLines(*outcome.lastReply())) {
      // The entry line names the path as asked for; the name is ours.
      if (parseMlsdLine(line, record)) {
        record.name = name;
        completeRecord(record);
        return Status::OK();
      }
    }
  }
  if (outcome.code == CURLE_OK && outcome.lastCode() == 550) {
    return Status::notFound(outcome.lastReply()->text);
  }
  return outcome.failure();
}

size_t CurlServerSide::lookUpsPerListing() const {
  // A listing over a data connection costs about five round trips (EPSV, the
  // connection, a TYPE, the command, its end); STAT costs one, like a look-up.
  return connection_->methods.listing == ListingMethod::stat ? 1 : 5;
}

}  // namespace tandrel
