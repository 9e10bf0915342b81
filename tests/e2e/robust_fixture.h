// Shared ground of the robustness tests (tests/e2e/robust_*_test.cc): a server
// of the test's own, started with the options the test needs (idle time-out,
// slow data connections, TLS), a local tree, and the expected start lines.
// The run sits in the server's log-in directory (no -s).
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/ftp_server.h"
#include "support/pty_run.h"
#include "support/sync_fixture.h"
#include "support/temp_tree.h"

namespace tandrel::testing {

class RobustBase : public ::testing::Test {
 protected:
  // Starts the test's server; the test stops (ASSERT) when it does not start.
  void startServer(ServerKind kind, ServerOptions options = {});
  FtpServer& ftp() { return *server_; }
  // The server's log-in directory as files on disk, owned by the server's user.
  Tree remote() const { return server_->tree(); }

  // -h, -u, -p and -l for the test's server and local tree, then `more`.
  std::vector<std::string> arguments(const std::vector<std::string>& more = {}) const;
  // The banner, the connection line and the start directory line.
  std::string startLines() const;
  // The start lines and then exactly `actions` stay on the screen (progress
  // lines erased as a terminal erases them), else a failure that shows both.
  void expectOutput(const RunResult& result, const std::string& actions) const;
  // No temporary file ("zztandrel.zztemp*") on either side, and no tool file on the server.
  void expectNoLeftovers() const;

  // Runs again with `options` and nothing changed: the run prints only `actions`
  // (directory lines, if any), asks nothing, changes neither tree and writes
  // no database file again.
  void expectQuietRerun(const std::vector<std::string>& options = {},
                        const std::string& actions = "", int status = 0);

  // Runs the tool under a terminal, answering `answers` in order.
  RunResult run(const std::vector<std::string>& options = {},
                const std::vector<Answer>& answers = {}) const;

  TempTree local;

 private:
  std::unique_ptr<FtpServer> server_;
};

// One instance per server kind.
class RobustTest : public RobustBase, public ::testing::WithParamInterface<ServerKind> {
 protected:
  ServerKind kind() const { return GetParam(); }
  void startServer(ServerOptions options = {}) { RobustBase::startServer(kind(), options); }
};

// The line the tool prints after an interruption.
inline const std::string kInterruptedLine =
    "\nInterrupted: the run stopped after the current action; what was done is saved.\n";

// Parameter names for INSTANTIATE_TEST_SUITE_P.
std::string kindName(const ::testing::TestParamInfo<ServerKind>& info);

// The first and last `count` bytes of a file, and its size (-1 when missing),
// without reading what lies between.
struct FileEnds {
  long long size = -1;
  std::string head;
  std::string tail;
  bool operator==(const FileEnds&) const = default;
};
FileEnds fileEnds(const std::string& path, size_t count);

// The names recorded in a state database file ("zztandrel.zzlocaldb" or
// "zztandrel.zzserverdb" in `directory`), in file order, separated by spaces;
// directories end with '/'. "(none)" when there is no such file, "(damaged)"
// when it does not parse.
std::string recordedNames(const std::string& directory, const std::string& file);

// Random bytes, the same for the same seed.
std::string randomBytes(size_t count, unsigned seed);

}  // namespace tandrel::testing
