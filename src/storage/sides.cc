#include "storage/sides.h"

#include <curl/curl.h>

#include "storage/failure.h"
#include "storage/local_posix.h"
#include "storage/server_curl.h"

namespace tandrel {

namespace {
LocalSide* installedLocal = nullptr;
ServerSide* installedServer = nullptr;

PosixLocalSide& realLocal() {
  static PosixLocalSide side;
  return side;
}

CurlServerSide& realServer() {
  static CurlServerSide side;
  return side;
}
}  // namespace

LocalSide& localSide() { return installedLocal ? *installedLocal : realLocal(); }
ServerSide& serverSide() { return installedServer ? *installedServer : realServer(); }

void installLocalSide(LocalSide* side) { installedLocal = side; }
void installServerSide(ServerSide* side) { installedServer = side; }

bool openSession() {
  CURLcode code = curl_global_init(CURL_GLOBAL_DEFAULT);
  if (code == CURLE_OK) return true;
  recordFailure(FailureKind::system, curl_easy_strerror(code));
  return false;
}

void closeSession() {
  serverSide().disconnect();
  curl_global_cleanup();
}

}  // namespace tandrel
