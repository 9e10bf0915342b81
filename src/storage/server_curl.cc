#include "storage/server_curl.h"

#include <curl/curl.h>
#include <sys/select.h>

#include <cctype>
#include <cstdlib>
#include <ctime>
#include <map>
#include <optional>
#include <set>
#include <string_view>
#include <utility>

#include "console/interrupt.h"
#include "storage/failure.h"
#include "storage/listing_parser.h"
#include "storage/reserved_names.h"

namespace tandrel {

namespace {

constexpr long kConnectTimeoutSeconds = 30;
constexpr long kResponseTimeoutSeconds = 60;
// A transfer that moves less than a byte a second for this long has stalled.
constexpr long kStallSeconds = 60;
// curl_multi_poll wakes at least this often; longer waits bring back the
// passive-mode stall that curl_easy_perform shows.
constexpr int kPollMilliseconds = 10;
// libcurl's largest upload buffer; a download buffer of the same order. Both
// are held once per connection, whatever the size of the file.
constexpr long kUploadBufferBytes = 2L * 1024 * 1024;
constexpr long kDownloadBufferBytes = 1024L * 1024;

constexpr char kInvalidName[] = "Invalid file name\n";
constexpr char kNotConnected[] = "Not connected to the server\n";
constexpr char kNoSuchEntry[] = "No such file or directory\n";
constexpr char kNoReply[] = "No reply from the server\n";

struct EasyDeleter {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct MultiDeleter {
  void operator()(CURLM* handle) const { curl_multi_cleanup(handle); }
};
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;
using MultiHandle = std::unique_ptr<CURLM, MultiDeleter>;

class StringList {
 public:
  explicit StringList(const std::vector<std::string>& lines) {
    for (const std::string& line : lines) head_ = curl_slist_append(head_, line.c_str());
  }
  ~StringList() { curl_slist_free_all(head_); }
  StringList(const StringList&) = delete;
  StringList& operator=(const StringList&) = delete;
  curl_slist* get() const { return head_; }

 private:
  curl_slist* head_ = nullptr;
};

// One complete server reply: its code and all its lines, CR removed, each
// ending in one "\n".
struct Reply {
  int code = 0;
  std::string text;
  std::string command;  // the command line sent last before it, CR LF removed
};

bool hasReplyCode(std::string_view line) {
  return line.size() >= 3 && line[0] >= '1' && line[0] <= '5' && line[1] >= '0' && line[1] <= '9' &&
         line[2] >= '0' && line[2] <= '9';
}

// Gathers the control connection's incoming lines into replies. A multi-line
// reply ("213-" ... "213 ") is kept whole.
class ReplyReader {
 public:
  void reset() {
    replies_.clear();
    partial_.clear();
    open_ = Reply{};
    inMultiLine_ = false;
    command_.clear();
  }

  // libcurl waits for each reply before its next command, so a reply answers
  // the command sent last before it began.
  void sent(const char* data, size_t length) {
    command_.assign(data, length);
    while (!command_.empty() && (command_.back() == '\n' || command_.back() == '\r')) {
      command_.pop_back();
    }
  }

  void feed(const char* data, size_t length) {
    partial_.append(data, length);
    size_t start = 0;
    for (size_t end; (end = partial_.find('\n', start)) != std::string::npos; start = end + 1) {
      std::string_view line(partial_.data() + start, end - start);
      // Only the line end's own CR: one before it belongs to a name.
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      addLine(line);
    }
    partial_.erase(0, start);
  }

  const std::vector<Reply>& replies() const { return replies_; }

 private:
  static int codeOf(std::string_view line) {
    return std::atoi(std::string(line.substr(0, 3)).c_str());
  }

  void addLine(std::string_view line) {
    if (!inMultiLine_) {
      if (!hasReplyCode(line)) return;
      open_ = Reply{codeOf(line), {}, command_};
      inMultiLine_ = line.size() > 3 && line[3] == '-';
    } else if (hasReplyCode(line) && codeOf(line) == open_.code &&
               (line.size() == 3 || line[3] == ' ')) {
      inMultiLine_ = false;  // the closing line repeats the code with a space
    }
    open_.text.append(line);
    open_.text.push_back('\n');
    if (!inMultiLine_) replies_.push_back(std::move(open_));
  }

  std::vector<Reply> replies_;
  std::string partial_;
  Reply open_;
  bool inMultiLine_ = false;
  std::string command_;
};

bool isPositive(int code) { return code >= 200 && code < 300; }

bool hasLineBreakOrNul(std::string_view name) {
  return name.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

// Characters that STAT may take as a pattern (vsftpd knows '*', '?' and
// "{a,b}"; other servers may know brackets).
bool hasPatternCharacters(std::string_view name) {
  return name.find_first_of("*?[]{}\\") != std::string_view::npos;
}

// The lines of `text`, without their "\n"; a last line without one counts too.
std::vector<std::string_view> splitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    size_t end = text.find('\n');
    lines.push_back(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
  }
  return lines;
}

// The lines between the first and the last line of a multi-line reply.
std::vector<std::string_view> innerLines(const Reply& reply) {
  std::vector<std::string_view> lines = splitLines(reply.text);
  if (lines.size() < 2) return {};
  return {lines.begin() + 1, lines.end() - 1};
}

std::string childPath(const std::string& directory, const std::string& name) {
  return directory == "/" ? "/" + name : directory + "/" + name;
}

// The absolute path `name` leads to from `current`, worked out on the names
// alone: ".." of "/" is "/".
std::string resolvePath(const std::string& current, const std::string& name) {
  std::vector<std::string> segments;
  auto add = [&segments](std::string_view path) {
    while (!path.empty()) {
      size_t slash = path.find('/');
      std::string_view segment = path.substr(0, slash);
      path.remove_prefix(slash == std::string_view::npos ? path.size() : slash + 1);
      if (segment.empty() || segment == ".") continue;
      if (segment == "..") {
        if (!segments.empty()) segments.pop_back();
      } else {
        segments.emplace_back(segment);
      }
    }
  };
  if (name.empty() || name.front() != '/') add(current);
  add(name);
  std::string path;
  for (const std::string& segment : segments) path += "/" + segment;
  return path.empty() ? "/" : path;
}

// libcurl results that mean the server answered with a failure, as opposed to
// the connection or the transfer failing under us. A reply libcurl did not
// expect is not among them: after a failed data connection libcurl falls back
// from EPSV to PASV while the reply to TYPE is still on its way, and reads the
// one for the other from then on.
bool isServerAnswer(CURLcode code) {
  switch (code) {
    case CURLE_REMOTE_ACCESS_DENIED:
    case CURLE_FTP_COULDNT_SET_TYPE:
    case CURLE_FTP_COULDNT_RETR_FILE:
    case CURLE_QUOTE_ERROR:
    case CURLE_UPLOAD_FAILED:
    case CURLE_FTP_PORT_FAILED:
    case CURLE_FTP_COULDNT_USE_REST:
    case CURLE_BAD_DOWNLOAD_RESUME:
    case CURLE_USE_SSL_FAILED:
    case CURLE_LOGIN_DENIED:
    case CURLE_REMOTE_DISK_FULL:
    case CURLE_REMOTE_FILE_EXISTS:
    case CURLE_REMOTE_FILE_NOT_FOUND:
    case CURLE_FTP_PRET_FAILED:
      return true;
    default:
      return false;
  }
}

// What one perform asks for.
struct Request {
  std::string url;
  std::vector<std::string> quote;
  std::vector<std::string> postQuote;
  std::string customRequest;
  bool noBody = false;
  std::string* listing = nullptr;  // receives the data of a listing
  ByteSink* sink = nullptr;        // receives the data of a download
  ByteSource* source = nullptr;    // gives the data of an upload
};

// What one perform did.
struct Outcome {
  CURLcode code = CURLE_OK;
  std::string error;  // libcurl's wording, kept only on failure
  std::vector<Reply> replies;
  int64_t moved = 0;          // bytes through the data callbacks
  bool streamFailed = false;  // the sink or the source failed and recorded why
  bool interrupted = false;

  // The server accepted the transfer command (a preliminary 1xx reply), so a
  // file it writes may exist, empty or partial.
  bool transferStarted() const {
    for (const Reply& reply : replies) {
      if (reply.code / 100 == 1) return true;
    }
    return moved > 0;
  }
  const Reply* lastReply() const { return replies.empty() ? nullptr : &replies.back(); }
  int lastCode() const { return replies.empty() ? 0 : replies.back().code; }
  // The connection is gone or out of step: the server closed it (421) or it
  // failed below the protocol.
  bool connectionLost() const {
    for (const Reply& reply : replies) {
      if (reply.code == 421) return true;
    }
    return code != CURLE_OK && !isServerAnswer(code);
  }
};

}  // namespace

class CurlConnection {
 public:
  ~CurlConnection() { close(); }

  bool open(const LogIn& logIn);
  void close();
  bool isOpen() const { return easy_ != nullptr; }

  // Performs `request` and, when the connection turned out to be dead before
  // any data moved, once more on a new connection.
  Outcome run(const Request& request);
  // Sends one command on the control connection ("*" prefixed, so a refusal
  // keeps the connection) and returns its outcome.
  Outcome command(const std::string& line);
  // Leaves the failure record for an outcome that failed.
  void recordOutcome(const Outcome& outcome) const;

  std::string directoryUrl() const { return baseUrl_ + "/"; }
  std::string fileUrl(const std::string& path) const;

  std::string current = "/";
  // Empty when the log-in directory is known; else the server's reply to PWD.
  std::string logInReply;
  // Where the server's own current directory is: a return to the parent only
  // moves `current`.
  std::string serverAt = "/";
  bool mlst = false;
  // Whether STAT of a directory answers with the same lines as its LIST, on
  // the control connection: found out at the first listing of a connection.
  enum class StatListing { unknown, yes, no };
  StatListing statListing = StatListing::unknown;
  // Directories this connection created and has not entered since: empty.
  std::set<std::string> created;
  // The directory just entered when it is one of those, for the list() that
  // follows; any other request drops it, as it may change the directory.
  std::optional<std::string> enteredEmpty;
  // Whether a server link, by absolute path, could be entered, found out once.
  std::map<std::string, bool> linkIsDirectory;
  // What the server reported (PWD) as the real path of a server link to a
  // directory, by tracked path.
  std::map<std::string, std::string> linkRealPath;
  // The MLSD "unique" fact of directories, by tracked path.
  std::map<std::string, std::string> uniqueOfPath;
  std::function<void(int64_t, int64_t)> observer;

 private:
  Outcome performOnce(const Request& request);
  void applyCommonOptions();

  static int onDebug(CURL*, curl_infotype type, char* data, size_t size, void* self);
  static size_t onWrite(char* data, size_t size, size_t count, void* self);
  // Hands the download bytes gathered so far to the sink.
  bool flushDownload();
  static size_t onRead(char* buffer, size_t size, size_t count, void* self);
  static int onProgress(void* self, curl_off_t downloadTotal, curl_off_t downloaded,
                        curl_off_t uploadTotal, curl_off_t uploaded);

  MultiHandle multi_;
  EasyHandle easy_;
  LogIn logIn_;
  std::string baseUrl_;
  char errorBuffer_[CURL_ERROR_SIZE] = {};
  ReplyReader reader_;
  // The request being performed, for the callbacks.
  const Request* request_ = nullptr;
  Outcome* outcome_ = nullptr;
  // libcurl delivers a download 16 KiB at a time; the sink gets it in writes
  // of up to kDownloadBufferBytes instead.
  std::string pendingDownload_;
};

bool CurlConnection::open(const LogIn& logIn) {
  close();
  easy_.reset(curl_easy_init());
  if (!easy_) {
    recordFailure(FailureKind::system, "Can't initialise libcurl\n");
    return false;
  }
  logIn_ = logIn;
  const ServerAddress& address = logIn.address;
  const bool ipv6 = address.host.find(':') != std::string::npos;
  // With a netrc file, libcurl looks up the entry for the user named in the
  // URL (for the host alone without one); CURLOPT_USERNAME would skip the file.
  std::string userPart;
  if (!logIn.netrcFile.empty() && !logIn.user.empty()) {
    if (char* escaped = curl_easy_escape(easy_.get(), logIn.user.data(),
                                         static_cast<int>(logIn.user.size()))) {
      userPart = std::string(escaped) + "@";
      curl_free(escaped);
    }
  }
  baseUrl_ = std::string(address.security == Security::implicit ? "ftps://" : "ftp://") + userPart +
             (ipv6 ? "[" + address.host + "]" : address.host) + ":" + std::to_string(address.port);
  mlst = false;
  statListing = StatListing::unknown;
  enteredEmpty.reset();
  created.clear();

  Request request;
  request.url = directoryUrl();
  request.noBody = true;
  request.quote = {"*FEAT"};
  Outcome outcome = performOnce(request);
  if (outcome.code != CURLE_OK) {
    recordOutcome(outcome);
    close();
    return false;
  }
  // Read right away: libcurl forgets the entry path after a failed perform.
  const char* entryPath = nullptr;
  curl_easy_getinfo(easy_.get(), CURLINFO_FTP_ENTRY_PATH, &entryPath);
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
  if (const Reply* features = outcome.lastReply(); features && features->code == 211) {
    for (std::string_view line : splitLines(features->text)) {
      while (!line.empty() && line.front() == ' ') line.remove_prefix(1);
      // Feature names are case-insensitive.
      std::string feature(line.substr(0, line.find(' ')));
      for (char& c : feature) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      if (feature == "MLST") mlst = true;
    }
  }
  return true;
}

void CurlConnection::close() {
  // The multi handle owns the connection: cleaning it up sends QUIT.
  multi_.reset();
  easy_.reset();
}

std::string CurlConnection::fileUrl(const std::string& path) const {
  // "ftp://host:port/" followed by the absolute path: libcurl, told not to
  // change directory, sends everything after the first slash as the path.
  std::string url = baseUrl_ + "/";
  std::string_view rest(path);
  while (!rest.empty()) {
    size_t slash = rest.find('/');
    std::string_view segment = rest.substr(0, slash);
    rest.remove_prefix(slash == std::string_view::npos ? rest.size() : slash + 1);
    if (segment.empty()) continue;
    url += "/";
    char* escaped = curl_easy_escape(easy_.get(), segment.data(), static_cast<int>(segment.size()));
    if (escaped) {
      url += escaped;
      curl_free(escaped);
    }
  }
  return url;
}

void CurlConnection::applyCommonOptions() {
  CURL* easy = easy_.get();
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  if (logIn_.netrcFile.empty()) {
    curl_easy_setopt(easy, CURLOPT_USERNAME, logIn_.user.c_str());
    curl_easy_setopt(easy, CURLOPT_PASSWORD, logIn_.password.c_str());
  } else {
    // Every perform, since a reconnection logs in again.
    curl_easy_setopt(easy, CURLOPT_NETRC, static_cast<long>(CURL_NETRC_OPTIONAL));
    curl_easy_setopt(easy, CURLOPT_NETRC_FILE, logIn_.netrcFile.c_str());
  }
  curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, errorBuffer_);
  // The server's own reply lines come only through the debug callback.
  curl_easy_setopt(easy, CURLOPT_VERBOSE, 1L);
  curl_easy_setopt(easy, CURLOPT_DEBUGFUNCTION, &CurlConnection::onDebug);
  curl_easy_setopt(easy, CURLOPT_DEBUGDATA, this);
  // libcurl's own directory changes cache a directory that our own CWDs
  // invalidate; every path we send is absolute instead.
  curl_easy_setopt(easy, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_NOCWD));
  curl_easy_setopt(easy, CURLOPT_FTP_USE_EPSV, 1L);
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
  curl_easy_setopt(easy, CURLOPT_SERVER_RESPONSE_TIMEOUT, kResponseTimeoutSeconds);
  curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, kStallSeconds);
  curl_easy_setopt(easy, CURLOPT_TCP_KEEPALIVE, 1L);
  // Every passive-mode address lands in libcurl's name cache, which is searched
  // linearly: thousands of transfers would make each look-up slower.
  curl_easy_setopt(easy, CURLOPT_DNS_CACHE_TIMEOUT, 0L);
  // Large files in fewer, larger reads: each buffer costs one pass through
  // the multi loop (a poll, libcurl's own check of the socket, the callback).
  curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, kDownloadBufferBytes);
  if (logIn_.address.security != Security::none) {
    if (logIn_.address.security == Security::explicit_) {
      curl_easy_setopt(easy, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL));
    }
    // vsftpd demands TLS session reuse on data connections, which fails at
    // random under TLS 1.3 ("522"); TLS 1.2 resumes reliably.
    curl_easy_setopt(easy, CURLOPT_SSLVERSION,
                     static_cast<long>(CURL_SSLVERSION_TLSv1_2) |
                         static_cast<long>(CURL_SSLVERSION_MAX_TLSv1_2));
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
    // Debian's libcurl does not look at SSL_CERT_FILE by itself.
    if (const char* caFile = std::getenv("SSL_CERT_FILE"); caFile && *caFile) {
      curl_easy_setopt(easy, CURLOPT_CAINFO, caFile);
    }
  }
}

Outcome CurlConnection::performOnce(const Request& request) {
  Outcome outcome;
  CURL* easy = easy_.get();
  curl_easy_reset(easy);
  applyCommonOptions();
  StringList quote(request.quote);
  StringList postQuote(request.postQuote);
  curl_easy_setopt(easy, CURLOPT_URL, request.url.c_str());
  if (quote.get()) curl_easy_setopt(easy, CURLOPT_QUOTE, quote.get());
  if (postQuote.get()) curl_easy_setopt(easy, CURLOPT_POSTQUOTE, postQuote.get());
  if (!request.customRequest.empty()) {
    curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, request.customRequest.c_str());
  }
  if (request.noBody) curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
  if (request.listing || request.sink) {
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &CurlConnection::onWrite);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
  }
  if (request.sink) {
    // The size is not needed, and asking for it costs a SIZE command.
    curl_easy_setopt(easy, CURLOPT_IGNORE_CONTENT_LENGTH, 1L);
  }
  if (request.source) {
    curl_easy_setopt(easy, CURLOPT_UPLOAD, 1L);
    // libcurl sends one buffer per pass through the multi loop; its default of
    // 64 KiB made four system calls for every 64 KiB of a large file.
    curl_easy_setopt(easy, CURLOPT_UPLOAD_BUFFERSIZE, kUploadBufferBytes);
    curl_easy_setopt(easy, CURLOPT_READFUNCTION, &CurlConnection::onRead);
    curl_easy_setopt(easy, CURLOPT_READDATA, this);
  }
  if (request.sink || request.source) {
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &CurlConnection::onProgress);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, this);
  }

  errorBuffer_[0] = '\0';
  reader_.reset();
  // The multi handle holds the connection: a new one means a new connection.
  if (!multi_) multi_.reset(curl_multi_init());
  request_ = &request;
  outcome_ = &outcome;
  outcome.code = CURLE_FAILED_INIT;
  if (multi_ && curl_multi_add_handle(multi_.get(), easy) == CURLM_OK) {
    int running = 1;
    bool performedAgain = false;
    while (running) {
      if (curl_multi_perform(multi_.get(), &running) != CURLM_OK || !running) break;
      // Having read a passive-mode reply, libcurl returns before it opens the
      // data connection, with no socket to watch: a poll would sleep its whole
      // timeout for nothing. Go on at once, but only once in a row, so a real
      // timer wait cannot spin.
      fd_set reads, writes, errors;
      FD_ZERO(&reads);
      FD_ZERO(&writes);
      FD_ZERO(&errors);
      int highest = -1;
      curl_multi_fdset(multi_.get(), &reads, &writes, &errors, &highest);
      if (highest < 0 && !performedAgain) {
        performedAgain = true;
        continue;
      }
      performedAgain = false;
      curl_multi_poll(multi_.get(), nullptr, 0, kPollMilliseconds, nullptr);
    }
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_.get(), &queued)) {
      if (message->msg == CURLMSG_DONE && message->easy_handle == easy) {
        outcome.code = message->data.result;
      }
    }
    // Also after a failure, so that `moved` counts what the server sent.
    if (request.sink && !flushDownload() && outcome.code == CURLE_OK) {
      outcome.code = CURLE_WRITE_ERROR;
    }
    curl_multi_remove_handle(multi_.get(), easy);
  }
  request_ = nullptr;
  outcome_ = nullptr;
  outcome.replies = reader_.replies();
  if (outcome.code != CURLE_OK) {
    outcome.error = errorBuffer_[0] ? errorBuffer_ : curl_easy_strerror(outcome.code);
  }
  if (outcome.connectionLost()) {
    // Whatever went wrong below the protocol may have left the control
    // connection out of step with its replies, and libcurl keeps some such
    // connections for reuse. Dropping the multi handle closes it now, outside
    // any request whose replies are being read.
    multi_.reset();
  }
  return outcome;
}

Outcome CurlConnection::run(const Request& request) {
  enteredEmpty.reset();
  Outcome outcome = performOnce(request);
  if (outcome.connectionLost() && outcome.moved == 0 && !outcome.streamFailed &&
      !outcome.interrupted) {
    // A server that dropped the idle connection: log in again and carry on,
    // every path being absolute.
    outcome = performOnce(request);
  }
  return outcome;
}

Outcome CurlConnection::command(const std::string& line) {
  Request request;
  request.url = directoryUrl();
  request.noBody = true;
  request.quote = {"*" + line};
  return run(request);
}

void CurlConnection::recordOutcome(const Outcome& outcome) const {
  if (outcome.streamFailed) return;  // the sink or source recorded its own failure
  const Reply* reply = outcome.lastReply();
  if (reply && reply->code >= 400 && reply->code != 421 &&
      (outcome.code == CURLE_OK || isServerAnswer(outcome.code))) {
    recordFailure(FailureKind::refused, reply->text);
    return;
  }
  if (outcome.code == CURLE_OK) {
    // The request went through but did not get the reply it needed.
    recordFailure(FailureKind::refused, reply ? reply->text : std::string(kNoReply));
    return;
  }
  std::string text = outcome.error;
  if (text.empty() || text.back() != '\n') text.push_back('\n');
  recordFailure(FailureKind::transport, text);
}

int CurlConnection::onDebug(CURL*, curl_infotype type, char* data, size_t size, void* self) {
  if (type == CURLINFO_HEADER_IN) static_cast<CurlConnection*>(self)->reader_.feed(data, size);
  if (type == CURLINFO_HEADER_OUT) static_cast<CurlConnection*>(self)->reader_.sent(data, size);
  return 0;
}

size_t CurlConnection::onWrite(char* data, size_t size, size_t count, void* self) {
  auto* connection = static_cast<CurlConnection*>(self);
  const size_t length = size * count;
  if (connection->request_->listing) {
    connection->request_->listing->append(data, length);
    connection->outcome_->moved += static_cast<int64_t>(length);
    return length;
  }
  connection->pendingDownload_.append(data, length);
  if (connection->pendingDownload_.size() >= static_cast<size_t>(kDownloadBufferBytes) &&
      !connection->flushDownload()) {
    return 0;  // a short count ends the transfer
  }
  return length;
}

bool CurlConnection::flushDownload() {
  if (pendingDownload_.empty()) return true;
  const bool written = request_->sink->write(pendingDownload_.data(), pendingDownload_.size());
  if (written) {
    outcome_->moved += static_cast<int64_t>(pendingDownload_.size());
  } else {
    outcome_->streamFailed = true;
  }
  pendingDownload_.clear();
  return written;
}

size_t CurlConnection::onRead(char* buffer, size_t size, size_t count, void* self) {
  auto* connection = static_cast<CurlConnection*>(self);
  long got = connection->request_->source->read(buffer, size * count);
  if (got < 0) {
    connection->outcome_->streamFailed = true;
    return CURL_READFUNC_ABORT;
  }
  connection->outcome_->moved += got;
  return static_cast<size_t>(got);
}

int CurlConnection::onProgress(void* self, curl_off_t downloadTotal, curl_off_t downloaded,
                               curl_off_t uploadTotal, curl_off_t uploaded) {
  auto* connection = static_cast<CurlConnection*>(self);
  if (interruptRequested()) {
    connection->outcome_->interrupted = true;
    return 1;
  }
  if (connection->observer) {
    connection->observer(static_cast<int64_t>(downloaded + uploaded),
                         static_cast<int64_t>(downloadTotal + uploadTotal));
  }
  return 0;
}

// ---- CurlServerSide ----------------------------------------------------------

CurlServerSide::CurlServerSide() : connection_(std::make_unique<CurlConnection>()) {}

CurlServerSide::~CurlServerSide() = default;

bool CurlServerSide::connect(const LogIn& logIn) { return connection_->open(logIn); }

void CurlServerSide::disconnect() { connection_->close(); }

bool CurlServerSide::supportsMlst() const { return connection_->mlst; }

void CurlServerSide::setProgressObserver(std::function<void(int64_t, int64_t)> observer) {
  connection_->observer = std::move(observer);
}

std::string CurlServerSide::currentDirectory() const { return connection_->current; }

namespace {

// Refuses a name before it can reach the wire: a CR or LF inside a command
// would be sent as a second command.
bool checkName(const std::string& name) {
  if (!isUnsafeName(name)) return true;
  recordFailure(FailureKind::refused, kInvalidName);
  return false;
}

bool checkConnected(const CurlConnection& connection) {
  if (connection.isOpen()) return true;
  recordFailure(FailureKind::transport, kNotConnected);
  return false;
}

// LIST lines without a year are dated against this clock.
int64_t now() { return static_cast<int64_t>(std::time(nullptr)); }

using StatListing = CurlConnection::StatListing;

// The reply to the first command of the perform that starts with `verb`.
const Reply* replyTo(const Outcome& outcome, std::string_view verb) {
  for (const Reply& reply : outcome.replies) {
    if (reply.command.starts_with(verb)) return &reply;
  }
  return nullptr;
}

// How a listing of a directory is asked for: over a data connection (of the
// server's current directory, or by path with MLSD), by STAT on the control
// connection, or both, to find out whether STAT can stand for the other.
enum class ListingWay { data, control, both };

ListingWay listingWay(const CurlConnection& connection, const std::string& path) {
  // STAT lists in LIST format, so an MLSD server keeps its own precision; a
  // path STAT could take as a pattern is listed the long way.
  if (connection.mlst || hasPatternCharacters(path) ||
      connection.statListing == StatListing::no) {
    return ListingWay::data;
  }
  return connection.statListing == StatListing::yes ? ListingWay::control : ListingWay::both;
}

void addListing(const CurlConnection& connection, Request& request, ListingWay way,
                const std::string& path, std::string& data) {
  if (way != ListingWay::data) request.quote.push_back("*STAT " + path);
  if (way == ListingWay::control) {
    request.noBody = true;
    return;
  }
  request.customRequest = connection.mlst ? "MLSD" : "LIST -a";
  request.listing = &data;
}

// The listing lines of a positive STAT reply that shows the directory itself
// ("."), joined like listing data. A server that lists a missing directory as
// empty shows no "." for it, so such a reply proves the directory exists.
bool readStatListing(const Outcome& outcome, std::string& data) {
  const Reply* reply = replyTo(outcome, "STAT ");
  if (!reply || !isPositive(reply->code)) return false;
  bool showsItself = false;
  data.clear();
  for (std::string_view line : innerLines(*reply)) {
    showsItself |= line.starts_with("d") && line.ends_with(" .");
    data.append(line);
    data.push_back('\n');
  }
  return showsItself;
}

// After a perform that asked for both: STAT stands for the listing from now
// on when it gave the same lines.
void decideStatListing(CurlConnection& connection, const Outcome& outcome,
                       const std::string& data) {
  std::string statData;
  const bool same = readStatListing(outcome, statData) && statData == data;
  connection.statListing = same ? StatListing::yes : StatListing::no;
}

// Takes the listing of `path` (the tracked current directory) so that a
// directory that is not there fails instead of listing as empty: by STAT
// where its answer shows the directory itself, by MLSD of the path (which
// fails for a missing directory), else by a change into the directory and a
// LIST in one perform.
// `overControl` tells whether the lines came in a reply on the control
// connection, where each keeps every byte of its name up to the reply's own
// line end.
bool fetchListing(CurlConnection& connection, const std::string& path, std::string& data,
                  bool& overControl) {
  overControl = false;
  ListingWay way = listingWay(connection, path);
  if (way == ListingWay::control) {
    Request request;
    request.url = connection.directoryUrl();
    request.noBody = true;
    request.quote = {"*STAT " + path};
    Outcome outcome = connection.run(request);
    if (outcome.code == CURLE_OK && readStatListing(outcome, data)) {
      overControl = true;
      return true;
    }
    way = ListingWay::data;
  }
  Request request;
  data.clear();
  if (connection.mlst) {
    request.url = connection.fileUrl(path) + "/";
    // Some servers fail a listing while their own current directory is one
    // that has gone since: after a return to the parent, the server follows.
    if (connection.serverAt != path) request.quote = {"*CWD " + path};
  } else {
    // The CWD has no "*": a refusal ends the perform before the listing.
    request.url = connection.directoryUrl();
    request.quote = {"CWD " + path};
  }
  addListing(connection, request, way, path, data);
  Outcome outcome = connection.run(request);
  if (!request.quote.empty()) connection.serverAt = path;
  if (outcome.code != CURLE_OK) {
    connection.recordOutcome(outcome);
    return false;
  }
  if (way == ListingWay::both) decideStatListing(connection, outcome, data);
  return true;
}

}  // namespace

bool CurlServerSide::changeDirectory(const std::string& name) {
  if (!checkConnected(*connection_)) return false;
  if (hasLineBreakOrNul(name)) {
    recordFailure(FailureKind::refused, kInvalidName);
    return false;
  }
  CurlConnection& connection = *connection_;
  std::string target = resolvePath(connection.current, name);
  if (name == "..") {
    // Every request names its target by absolute path, and every listing
    // proves that its directory exists: the server's own current directory
    // can stay where it is.
    connection.current = target;
    return true;
  }
  // A directory this connection has just created is empty: the listing that
  // follows its entry need not ask.
  const bool knownEmpty = connection.created.erase(target) > 0;
  Outcome outcome = connection.command("CWD " + target);
  if (outcome.code != CURLE_OK || !isPositive(outcome.lastCode())) {
    connection.recordOutcome(outcome);
    return false;
  }
  connection.current = target;
  connection.serverAt = target;
  if (knownEmpty) connection.enteredEmpty = target;
  return true;
}

namespace {

// The path in a PWD reply ("257 "/a ""quoted"" dir" is the current
// directory."): between the first quote and the next single one, doubled
// quotes standing for one. False unless it is an absolute path.
bool readPwdReply(const Reply& reply, std::string& path) {
  if (reply.code != 257) return false;
  std::string_view text = splitLines(reply.text).front();
  size_t open = text.find('"');
  if (open == std::string_view::npos) return false;
  path.clear();
  for (size_t i = open + 1; i < text.size(); ++i) {
    if (text[i] != '"') {
      path.push_back(text[i]);
    } else if (i + 1 < text.size() && text[i + 1] == '"') {
      path.push_back('"');
      ++i;
    } else {
      return path.starts_with("/");
    }
  }
  return false;
}

}  // namespace

bool CurlServerSide::knowsLogInDirectory() {
  if (connection_->logInReply.empty()) return true;
  recordFailure(FailureKind::refused, connection_->logInReply);
  return false;
}

bool CurlServerSide::enterStartDirectory(const std::string& path, bool& located) {
  located = true;
  if (!checkConnected(*connection_)) return false;
  if (hasLineBreakOrNul(path)) {
    recordFailure(FailureKind::refused, kInvalidName);
    return false;
  }
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
      recordFailure(FailureKind::refused, outcome.replies[count - 2].text);
    } else {
      connection_->recordOutcome(outcome);
    }
    return false;
  }
  std::string absolute;
  if (readPwdReply(outcome.replies.back(), absolute)) {
    connection_->current = resolvePath("/", absolute);
    connection_->serverAt = connection_->current;
  } else {
    located = false;
    recordFailure(FailureKind::refused, outcome.replies.back().text);
    // By name only from a place the server named.
    if (!path.starts_with("/") && !connection_->logInReply.empty()) return false;
    connection_->current = resolvePath(connection_->current, path);
    connection_->serverAt = connection_->current;
  }
  return true;
}

bool CurlServerSide::list(std::vector<ListRecord>& records) {
  records.clear();
  if (!checkConnected(*connection_)) return false;
  CurlConnection& connection = *connection_;
  if (connection.enteredEmpty == connection.current) {
    connection.enteredEmpty.reset();
    return true;
  }
  std::string data;
  bool overControl = false;
  if (!fetchListing(connection, connection.current, data, overControl)) return false;
  const int64_t listedAt = now();
  bool afterEntry = false;
  for (std::string_view line : splitLines(data)) {
    // libcurl turns the CR of the line end into nothing and a CR anywhere else
    // into a line end of its own: a name ending in CR ("Icon\r") arrives as its
    // line and an empty one. Servers send no empty lines, so such a name is
    // given its line break back, which skips it instead of misreading it.
    if (line.empty() && afterEntry && !overControl) {
      records.back().name.push_back('\r');
      afterEntry = false;
      continue;
    }
    if (!overControl && line.ends_with('\r')) line.remove_suffix(1);
    ListRecord record;
    const LineKind kind =
        connection_->mlst ? readMlsdLine(line, record) : readListLine(line, listedAt, record);
    afterEntry = kind == LineKind::entry;
    if (kind == LineKind::noEntry) continue;
    // A line we cannot read and a name that could lead out of the directory
    // are passed on, marked, so that the run can say so and hold back what
    // they may stand for; a name with a line break, so that it can say it
    // skips it.
    if (kind == LineKind::unreadable) {
      record = ListRecord{};
      record.kind = RecordKind::unreadable;
      record.name = std::string(line.substr(0, line.find_last_not_of('\r') + 1));
    } else if (record.name.find('/') != std::string::npos) {
      record.kind = RecordKind::leadsOut;
    }
    records.push_back(std::move(record));
  }
  rememberUniques(records);
  for (ListRecord& record : records) completeRecord(record);
  return true;
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

namespace {

bool isAncestorOrSelf(const std::string& ancestor, const std::string& path) {
  return ancestor == "/" || ancestor == path || path.starts_with(ancestor + "/");
}

// The real path of the tracked path `path`: what the server reported for the
// deepest link on the way there, followed by the names below it.
std::string realPathOf(const CurlConnection& connection, const std::string& path) {
  for (std::string prefix = path;; prefix = resolvePath(prefix, "..")) {
    auto found = connection.linkRealPath.find(prefix);
    if (found != connection.linkRealPath.end()) {
      return resolvePath(found->second, "." + path.substr(prefix.size()));
    }
    if (prefix == "/") return path;
  }
}

}  // namespace

bool CurlServerSide::isDirectoryLink(const std::string& path) {
  auto known = connection_->linkIsDirectory.find(path);
  if (known != connection_->linkIsDirectory.end()) return known->second;
  // Every request names its target by absolute path, so the return below only
  // keeps the server where the tracked path says it is. Where the link leads,
  // the server says after entering it.
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
  if (isDirectory) connection_->command("CWD " + connection_->current);
  connection_->serverAt = connection_->current;
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

bool CurlServerSide::lookUp(const std::string& name, ListRecord& record) {
  if (!checkName(name) || !checkConnected(*connection_)) return false;
  const std::string path = childPath(connection_->current, name);
  if (connection_->mlst) {
    Outcome outcome = connection_->command("MLST " + path);
    if (outcome.code == CURLE_OK && isPositive(outcome.lastCode())) {
      for (std::string_view line : innerLines(*outcome.lastReply())) {
        // The entry line names the path as asked for; the name is ours.
        if (parseMlsdLine(line, record)) {
          record.name = name;
          completeRecord(record);
          return true;
        }
      }
    }
    if (outcome.code == CURLE_OK && outcome.lastCode() == 550) {
      recordFailure(FailureKind::notFound, outcome.lastReply()->text);
    } else {
      connection_->recordOutcome(outcome);
    }
    return false;
  }

  // STAT answers on the control connection with the entry in LIST format; for
  // a directory it lists the directory's contents instead, where "." stands
  // for the directory itself.
  Outcome outcome = connection_->command("STAT " + path);
  if (outcome.code != CURLE_OK) {
    connection_->recordOutcome(outcome);
    return false;
  }
  bool emptyAnswer = false;
  if (isPositive(outcome.lastCode())) {
    const int64_t listedAt = now();
    std::vector<std::string_view> lines = innerLines(*outcome.lastReply());
    emptyAnswer = lines.empty();
    // vsftpd may answer for a file with "." and ".." lines beside the file's
    // own (a file named like a directory of its path, looked up from inside
    // that directory), and a directory's listing may hold a child of its own
    // name: where both readings fit, SIZE, which answers only for files, decides.
    bool withDot = false;
    for (std::string_view line : lines) withDot |= line.size() > 2 && line.ends_with(" .");
    for (std::string_view line : lines) {
      if (!parseListLine(line, listedAt, record) || record.name != name) continue;
      if (!withDot || record.isDirectory()) return true;
      Outcome size = connection_->command("SIZE " + path);
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
  }
  if (emptyAnswer && !hasPatternCharacters(name)) {
    recordFailure(FailureKind::notFound, kNoSuchEntry);
    return false;
  }
  // The server took the name as a pattern, or STAT said nothing useful: find
  // the name in the directory's listing.
  std::vector<ListRecord> records;
  if (!list(records)) return false;
  for (ListRecord& candidate : records) {
    if (candidate.name == name && candidate.kind != RecordKind::unreadable) {
      record = std::move(candidate);
      return true;
    }
  }
  recordFailure(FailureKind::notFound, kNoSuchEntry);
  return false;
}

namespace {

bool simpleCommand(CurlConnection& connection, const std::string& verb, const std::string& name) {
  if (!checkName(name) || !checkConnected(connection)) return false;
  Outcome outcome = connection.command(verb + " " + childPath(connection.current, name));
  if (outcome.code == CURLE_OK && isPositive(outcome.lastCode())) return true;
  connection.recordOutcome(outcome);
  return false;
}

}  // namespace

bool CurlServerSide::deleteFile(const std::string& name) {
  return simpleCommand(*connection_, "DELE", name);
}

bool CurlServerSide::removeIfLink(const std::string& name) {
  if (isUnsafeName(name) || !connection_->isOpen()) return false;
  // DELE unlinks a link and is refused for a directory on every server that
  // sits on a POSIX file system, so nothing behind the link is touched.
  Outcome outcome = connection_->command("DELE " + childPath(connection_->current, name));
  return outcome.code == CURLE_OK && isPositive(outcome.lastCode());
}

bool CurlServerSide::createDirectory(const std::string& name) {
  if (!simpleCommand(*connection_, "MKD", name)) return false;
  connection_->created.insert(childPath(connection_->current, name));
  return true;
}

bool CurlServerSide::removeDirectory(const std::string& name) {
  CurlConnection& connection = *connection_;
  const std::string path = childPath(connection.current, name);
  connection.created.erase(path);
  if (checkName(name) && (connection.serverAt == path || connection.serverAt.starts_with(path + "/"))) {
    // Some servers fail every later request once their current directory is
    // gone: the server leaves it first.
    if (connection.command("CWD " + connection.current).code == CURLE_OK) {
      connection.serverAt = connection.current;
    }
  }
  return simpleCommand(connection, "RMD", name);
}

size_t CurlServerSide::lookUpsPerListing() const {
  // A listing over a data connection costs about five round trips (EPSV, the
  // connection, a TYPE, the command, its end); STAT costs one, like a look-up.
  return !connection_->mlst && connection_->statListing == StatListing::yes ? 1 : 5;
}

bool CurlServerSide::download(const std::string& name, ByteSink& sink, int64_t& received,
                              ListRecord& after) {
  received = 0;
  after = ListRecord{};
  if (!checkName(name) || !checkConnected(*connection_)) return false;
  const std::string path = childPath(connection_->current, name);
  Request request;
  request.url = connection_->fileUrl(path);
  request.sink = &sink;
  // Where a look-up costs one short command, the file is described again in
  // the same perform, once its data has arrived.
  if (connection_->mlst) request.postQuote = {"*MLST " + path};
  Outcome outcome = connection_->run(request);
  received = outcome.moved;
  if (outcome.code != CURLE_OK) {
    connection_->recordOutcome(outcome);
    return false;
  }
  if (connection_->mlst && isPositive(outcome.lastCode())) {
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
  } else if (connection_->mlst && outcome.lastCode() == 550) {
    // Gone by now: described as a file without a time.
    after.name = name;
  }
  return true;
}

namespace {

// Best effort after a failed upload: removes the temporary copy, leaving the
// failure being reported as it is.
void discardTemporary(CurlConnection& connection, const std::string& temporary) {
  const Failure failure = lastFailure();
  connection.command("DELE " + temporary);
  recordFailure(failure.kind, failure.text);
}

// Whether the last two replies of `outcome` are an accepted RNFR and RNTO; if
// not, records the refusal.
bool renamed(const Outcome& outcome) {
  const std::vector<Reply>& replies = outcome.replies;
  const Reply* renameFrom = replies.size() >= 2 ? &replies[replies.size() - 2] : nullptr;
  const Reply* renameTo = outcome.lastReply();
  if (outcome.code == CURLE_OK && renameFrom && renameFrom->code / 100 == 3 && renameTo &&
      isPositive(renameTo->code)) {
    return true;
  }
  const Reply* refusal = renameFrom && renameFrom->code / 100 != 3 ? renameFrom : renameTo;
  recordFailure(FailureKind::refused, refusal ? refusal->text : std::string(kNoReply));
  return false;
}

// Renames `from` to `to` (absolute paths) in one perform, so that a silent
// reconnection sends both commands again.
bool renameOnServer(CurlConnection& connection, const std::string& from, const std::string& to) {
  Request request;
  request.url = connection.directoryUrl();
  request.noBody = true;
  request.quote = {"*RNFR " + from, "*RNTO " + to};
  return renamed(connection.run(request));
}

}  // namespace

bool CurlServerSide::upload(ByteSource& source, const std::string& name, int64_t& sent) {
  sent = 0;
  if (!checkName(name) || !checkConnected(*connection_)) return false;
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
    connection.recordOutcome(outcome);
    if (outcome.transferStarted()) discardTemporary(connection, temporary);
    return false;
  }
  if (renamed(outcome)) return true;

  // Some servers rename only onto a free name. The old copy is moved aside
  // and the new one renamed into its place; if that is refused too, the old
  // copy goes back. The real name is never written directly, so a broken
  // transfer can never leave a short file there. The journal says what is
  // under way, so that a run cut off between the renames is settled by the
  // next one instead of leaving the file under no name.
  const Failure refusal = lastFailure();
  ListRecord existing;
  if (!lookUp(name, existing) || existing.kind != RecordKind::file) {
    recordFailure(refusal.kind, refusal.text);
    discardTemporary(connection, temporary);
    return false;
  }
  const std::string asideLeaf = asideName(static_cast<int64_t>(std::time(nullptr)));
  const std::string aside = childPath(connection.current, asideLeaf);
  if (journal_ && !journal_->begin({name, temporaryName(), asideLeaf})) {
    const Failure unwritten = lastFailure();
    discardTemporary(connection, temporary);
    recordFailure(unwritten.kind, unwritten.text);
    return false;
  }
  const bool movedAside = renameOnServer(connection, target, aside);
  if (movedAside && renameOnServer(connection, temporary, target)) {
    // Should the old copy stay, the journal stays too, and the next run here
    // deletes it.
    if (isPositive(connection.command("DELE " + aside).lastCode()) && journal_) journal_->end();
    return true;
  }
  const Failure failed = movedAside ? lastFailure() : refusal;
  if (journal_) {
    journal_->settle();
  } else {
    if (movedAside) renameOnServer(connection, aside, target);
    discardTemporary(connection, temporary);
  }
  recordFailure(failed.kind, failed.text);
  return false;
}

bool CurlServerSide::renameFile(const std::string& from, const std::string& to) {
  if (!checkName(from) || !checkName(to) || !checkConnected(*connection_)) return false;
  return renameOnServer(*connection_, childPath(connection_->current, from),
                        childPath(connection_->current, to));
}

}  // namespace tandrel
