// The libcurl transport of the server side: one easy handle, driven through a
// multi handle whose connection cache holds the run's one control connection.
// It performs requests (commands sent before and after, a listing, a download
// or an upload) and reports what each did, with every reply the server sent;
// what the requests mean is up to its users. libcurl never changes directory
// for us: every URL names an absolute path.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <string>
#include <vector>

#include <curl/curl.h>

#include "storage/byte_stream.h"
#include "storage/reply_reader.h"
#include "storage/server_side.h"

namespace tandrel {

// What one perform asks for.
struct Request {
  std::string url;
  std::vector<std::string> quote;      // commands before the request's own
  std::vector<std::string> postQuote;  // commands after it
  std::string customRequest;           // a listing command instead of the default
  bool noBody = false;                 // only the commands, no transfer
  std::string* listing = nullptr;      // receives the data of a listing
  ByteSink* sink = nullptr;            // receives the data of a download
  ByteSource* source = nullptr;        // gives the data of an upload
};

// What one perform did.
struct Outcome {
  CURLcode code = CURLE_OK;
  std::string error;  // libcurl's wording, kept only on failure
  std::vector<Reply> replies;
  int64_t moved = 0;          // bytes through the data callbacks
  Status streamFailure;       // why the sink or the source failed, if it did
  bool interrupted = false;   // the transfer watch asked to stop

  // The server accepted the transfer command (a preliminary 1xx reply), so a
  // file it writes may exist, empty or partial.
  bool transferStarted() const;
  const Reply* lastReply() const { return replies.empty() ? nullptr : &replies.back(); }
  int lastCode() const { return replies.empty() ? 0 : replies.back().code; }
  // Whether libcurl's result means the server answered with a failure, as
  // opposed to the connection or the transfer failing under us.
  bool isServerAnswer() const;
  // The connection is gone or out of step: the server closed it (421) or it
  // failed below the protocol.
  bool connectionLost() const;
  // What an outcome that failed stands for: the stream's own failure, the
  // server's refusal (its last reply), or the transport's.
  Status failure() const;
};

class CurlTransport {
 public:
  CurlTransport() = default;
  ~CurlTransport() { close(); }
  CurlTransport(const CurlTransport&) = delete;
  CurlTransport& operator=(const CurlTransport&) = delete;

  // Prepares the handles and the base URL for `logIn`; nothing is sent yet
  // (the first perform connects and logs in). Fails when libcurl cannot be
  // set up.
  Status open(const LogIn& logIn);
  // Ends the connection (the server gets QUIT); safe when not open.
  void close();
  bool isOpen() const { return easy_ != nullptr; }

  // Performs `request` once.
  Outcome perform(const Request& request);
  // Performs `request` and, when the connection turned out to be dead before
  // any data moved, once more on a new connection.
  Outcome run(const Request& request);
  // Sends one command on the control connection ("*" prefixed, so a refusal
  // keeps the connection) and returns its outcome.
  Outcome command(const std::string& line);

  // The log-in directory as libcurl read it from the PWD reply of the first
  // perform; nullptr when it found none (or the last perform failed).
  const char* entryPath() const;

  // A URL naming the server's current directory, for requests that only send
  // commands or list by a path of their own.
  std::string directoryUrl() const { return baseUrl_ + "/"; }
  // A URL naming the absolute path `path`, each segment escaped.
  std::string fileUrl(const std::string& path) const;

  // What every request asks whether to stop; nullptr: the unwatched default.
  void setWatch(TransferWatch* watch) { watch_ = watch; }
  TransferWatch& watch() const { return watch_ ? *watch_ : unwatchedTransfers(); }

  // Called during downloads and uploads with the bytes moved so far and the
  // total (0 when unknown); an empty function turns it off.
  void setProgressObserver(std::function<void(int64_t done, int64_t total)> observer) {
    observer_ = std::move(observer);
  }

 private:
  struct EasyDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
  };
  struct MultiDeleter {
    void operator()(CURLM* handle) const { curl_multi_cleanup(handle); }
  };

  void applyCommonOptions();
  void applyRequestOptions(const Request& request);
  // Drives the easy handle through the multi handle until the request is done.
  CURLcode drive();

  static int onDebug(CURL*, curl_infotype type, char* data, size_t size, void* self);
  static size_t onWrite(char* data, size_t size, size_t count, void* self);
  // Hands the download bytes gathered so far to the sink.
  bool flushDownload();
  static size_t onRead(char* buffer, size_t size, size_t count, void* self);
  static int onProgress(void* self, curl_off_t downloadTotal, curl_off_t downloaded,
                        curl_off_t uploadTotal, curl_off_t uploaded);

  std::unique_ptr<CURLM, MultiDeleter> multi_;
  std::unique_ptr<CURL, EasyDeleter> easy_;
  LogIn logIn_;
  std::string baseUrl_;
  char errorBuffer_[CURL_ERROR_SIZE] = {};
  ReplyReader reader_;
  std::function<void(int64_t, int64_t)> observer_;
  TransferWatch* watch_ = nullptr;
  // The request being performed, for the callbacks.
  const Request* request_ = nullptr;
  Outcome* outcome_ = nullptr;
  // libcurl delivers a download 16 KiB at a time; the sink gets it in larger
  // writes instead.
  std::string pendingDownload_;
};

}  // namespace tandrel
