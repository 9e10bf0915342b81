#include "storage/sides.h"

#include <curl/curl.h>

namespace tandrel {

Status openSession() {
  CURLcode code = curl_global_init(CURL_GLOBAL_DEFAULT);
  if (code == CURLE_OK) return Status::OK();
  return Status::system(curl_easy_strerror(code));
}

void closeSession(ServerSide& server) {
  server.disconnect();
  curl_global_cleanup();
}

}  // namespace tandrel
