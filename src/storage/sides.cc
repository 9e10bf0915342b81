#include "storage/sides.h"

#include <curl/curl.h>

#include "storage/failure.h"

namespace tandrel {

bool openSession() {
  CURLcode code = curl_global_init(CURL_GLOBAL_DEFAULT);
  if (code == CURLE_OK) return true;
  recordFailure(FailureKind::system, curl_easy_strerror(code));
  return false;
}

void closeSession(ServerSide& server) {
  server.disconnect();
  curl_global_cleanup();
}

}  // namespace tandrel
