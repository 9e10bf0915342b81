#include "storage/curl_transport.h"

#include <sys/select.h>

#include <cstdlib>
#include <string_view>

#include "storage/transfer_watch.h"

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

constexpr char kNoReply[] = "No reply from the server\n";

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

// libcurl results that mean the server answered with a failure. A reply
// libcurl did not expect is not among them: after a failed data connection
// libcurl falls back from EPSV to PASV while the reply to TYPE is still on its
// way, and reads the one for the other from then on.
bool isServerAnswerCode(CURLcode code) {
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

}  // namespace

bool Outcome::transferStarted() const {
  for (const Reply& reply : replies) {
    if (reply.code / 100 == 1) return true;
  }
  return moved > 0;
}

bool Outcome::isServerAnswer() const { return isServerAnswerCode(code); }

bool Outcome::connectionLost() const {
  for (const Reply& reply : replies) {
    if (reply.code == 421) return true;
  }
  return code != CURLE_OK && !isServerAnswer();
}

Status CurlTransport::open(const LogIn& logIn) {
  close();
  easy_.reset(curl_easy_init());
  if (!easy_) return Status::system("Can't initialise libcurl\n");
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
  return Status::OK();
}

void CurlTransport::close() {
  // The multi handle owns the connection: cleaning it up sends QUIT.
  multi_.reset();
  easy_.reset();
}

const char* CurlTransport::entryPath() const {
  const char* path = nullptr;
  if (easy_) curl_easy_getinfo(easy_.get(), CURLINFO_FTP_ENTRY_PATH, &path);
  return path;
}

std::string CurlTransport::fileUrl(const std::string& path) const {
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

void CurlTransport::applyCommonOptions() {
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
  curl_easy_setopt(easy, CURLOPT_DEBUGFUNCTION, &CurlTransport::onDebug);
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

void CurlTransport::applyRequestOptions(const Request& request) {
  CURL* easy = easy_.get();
  curl_easy_setopt(easy, CURLOPT_URL, request.url.c_str());
  if (!request.customRequest.empty()) {
    curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, request.customRequest.c_str());
  }
  if (request.noBody) curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
  if (request.listing || request.sink) {
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &CurlTransport::onWrite);
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
    curl_easy_setopt(easy, CURLOPT_READFUNCTION, &CurlTransport::onRead);
    curl_easy_setopt(easy, CURLOPT_READDATA, this);
  }
  if (request.sink || request.source) {
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &CurlTransport::onProgress);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, this);
  }
}

CURLcode CurlTransport::drive() {
  CURLcode result = CURLE_FAILED_INIT;
  CURL* easy = easy_.get();
  if (!multi_ || curl_multi_add_handle(multi_.get(), easy) != CURLM_OK) return result;
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
      result = message->data.result;
    }
  }
  // Also after a failure, so that `moved` counts what the server sent.
  if (request_->sink && !flushDownload() && result == CURLE_OK) result = CURLE_WRITE_ERROR;
  curl_multi_remove_handle(multi_.get(), easy);
  return result;
}

Outcome CurlTransport::perform(const Request& request) {
  Outcome outcome;
  CURL* easy = easy_.get();
  curl_easy_reset(easy);
  applyCommonOptions();
  StringList quote(request.quote);
  StringList postQuote(request.postQuote);
  if (quote.get()) curl_easy_setopt(easy, CURLOPT_QUOTE, quote.get());
  if (postQuote.get()) curl_easy_setopt(easy, CURLOPT_POSTQUOTE, postQuote.get());
  applyRequestOptions(request);

  errorBuffer_[0] = '\0';
  reader_.reset();
  // The multi handle holds the connection: a new one means a new connection.
  if (!multi_) multi_.reset(curl_multi_init());
  request_ = &request;
  outcome_ = &outcome;
  outcome.code = drive();
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

Outcome CurlTransport::run(const Request& request) {
  Outcome outcome = perform(request);
  if (outcome.connectionLost() && outcome.moved == 0 && outcome.streamFailure.ok() &&
      !outcome.interrupted) {
    // A server that dropped the idle connection: log in again and carry on,
    // every path being absolute.
    outcome = perform(request);
  }
  return outcome;
}

Outcome CurlTransport::command(const std::string& line) {
  Request request;
  request.url = directoryUrl();
  request.noBody = true;
  request.quote = {"*" + line};
  return run(request);
}

Status Outcome::failure() const {
  if (!streamFailure.ok()) return streamFailure;
  const Reply* reply = lastReply();
  if (reply && reply->code >= 400 && reply->code != 421 && (code == CURLE_OK || isServerAnswer())) {
    return Status::refused(reply->text);
  }
  if (code == CURLE_OK) {
    // The request went through but did not get the reply it needed.
    return Status::refused(reply ? reply->text : std::string(kNoReply));
  }
  std::string text = error;
  if (text.empty() || text.back() != '\n') text.push_back('\n');
  return Status::transport(text);
}

int CurlTransport::onDebug(CURL*, curl_infotype type, char* data, size_t size, void* self) {
  ReplyReader& reader = static_cast<CurlTransport*>(self)->reader_;
  if (type == CURLINFO_HEADER_IN) reader.feed(std::string_view(data, size));
  if (type == CURLINFO_HEADER_OUT) reader.sent(std::string_view(data, size));
  return 0;
}

size_t CurlTransport::onWrite(char* data, size_t size, size_t count, void* self) {
  auto* transport = static_cast<CurlTransport*>(self);
  const size_t length = size * count;
  if (transport->request_->listing) {
    transport->request_->listing->append(data, length);
    transport->outcome_->moved += static_cast<int64_t>(length);
    return length;
  }
  transport->pendingDownload_.append(data, length);
  if (transport->pendingDownload_.size() >= static_cast<size_t>(kDownloadBufferBytes) &&
      !transport->flushDownload()) {
    return 0;  // a short count ends the transfer
  }
  return length;
}

bool CurlTransport::flushDownload() {
  if (pendingDownload_.empty()) return true;
  Status status = request_->sink->write(pendingDownload_.data(), pendingDownload_.size());
  const bool written = status.ok();
  if (written) {
    outcome_->moved += static_cast<int64_t>(pendingDownload_.size());
  } else {
    outcome_->streamFailure = std::move(status);
  }
  pendingDownload_.clear();
  return written;
}

size_t CurlTransport::onRead(char* buffer, size_t size, size_t count, void* self) {
  auto* transport = static_cast<CurlTransport*>(self);
  size_t got = 0;
  Status read = transport->request_->source->read(buffer, size * count, got);
  if (!read.ok()) {
    transport->outcome_->streamFailure = std::move(read);
    return CURL_READFUNC_ABORT;
  }
  transport->outcome_->moved += static_cast<int64_t>(got);
  return got;
}

int CurlTransport::onProgress(void* self, curl_off_t downloadTotal, curl_off_t downloaded,
                              curl_off_t uploadTotal, curl_off_t uploaded) {
  auto* transport = static_cast<CurlTransport*>(self);
  if (transport->watch().cancelled()) {
    transport->outcome_->interrupted = true;
    return 1;
  }
  if (transport->observer_) {
    transport->observer_(static_cast<int64_t>(downloaded + uploaded),
                         static_cast<int64_t>(downloadTotal + uploadTotal));
  }
  return 0;
}

}  // namespace tandrel
