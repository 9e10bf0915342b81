// One server of each kind for the tests of one parameterised suite: started
// when a test of the suite first asks for it, kept for the suite's other
// tests, and stopped by the suite's TearDownTestSuite.
#pragma once

#include <map>
#include <memory>

#include "support/ftp_server.h"

namespace tandrel::testing {

template <typename Suite>
std::map<ServerKind, std::unique_ptr<FtpServer>>& suiteServers() {
  static std::map<ServerKind, std::unique_ptr<FtpServer>> running;
  return running;
}

template <typename Suite>
FtpServer& suiteServer(ServerKind kind) {
  std::unique_ptr<FtpServer>& slot = suiteServers<Suite>()[kind];
  if (!slot) slot = std::make_unique<FtpServer>(kind);
  return *slot;
}

}  // namespace tandrel::testing
