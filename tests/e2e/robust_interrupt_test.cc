// Ctrl+C and SIGTERM in the middle of a run: the transfer in flight is
// abandoned without a trace on either side, what was done before is recorded,
// one line says what happened, and the next run finishes the job without doing
// anything twice. The server's data connections are slowed down so that the
// signal lands in the middle of a transfer of a few MiB.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <csignal>

#include "e2e/robust_fixture.h"
#include "e2e/robust_live_run.h"

namespace tandrel::testing {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int64_t kOld = 1700000000;
// Each file takes about a second and a half at this rate.
constexpr long kRate = 1 << 20;
constexpr size_t kFileSize = 3 << 19;

class Interruption : public RobustTest {
 protected:
  void SetUp() override { startServer({.bytesPerSecond = kRate}); }

  // big1..big3 on `tree`, different bytes each.
  void writeBigFiles(const Tree& tree) {
    for (int i = 1; i <= 3; ++i) {
      contents_[i] = randomBytes(kFileSize, static_cast<unsigned>(i));
      tree.write("big" + std::to_string(i), contents_[i], kOld);
    }
  }
  const std::string& content(int i) const { return contents_[i]; }

  std::string localRecords() const { return recordedNames(local.path(), "zztandrel.zzlocaldb"); }
  std::string serverRecords() const {
    return recordedNames(local.path(), "zztandrel.zzserverdb");
  }

 private:
  std::string contents_[4];
};

// What does not depend on the server runs on one only, to keep the suite short.
using InterruptionOnOneServer = Interruption;

// Waits for the transfer of big2 to begin, sends `signal` half a second into
// it, and waits for the end of the run.
RunResult interruptDuringSecondTransfer(LiveRun& live, const std::string& side, int signal) {
  EXPECT_TRUE(live.waitFor(creating("big2", side), 30s)) << live.output();
  live.pause(500ms);
  EXPECT_FALSE(live.ended()) << "the run ended before the signal: " << live.output();
  live.signal(signal);
  return live.finish(20s);
}

TEST_P(Interruption, CtrlCDuringAnUploadKeepsWhatWasDoneAndTheNextRunFinishes) {
  writeBigFiles(local);
  LiveRun live(arguments(), "");
  ASSERT_TRUE(live.started());
  RunResult result = interruptDuringSecondTransfer(live, "server", SIGINT);

  expectOutput(result, creating("big1", "server") + creating("big2", "server") + kInterruptedLine);
  EXPECT_TRUE(result.exitedWith(130)) << result.describe();
  EXPECT_TRUE(result.terminalRestored());
  // The finished upload is there and recorded; the one in flight left nothing.
  EXPECT_TRUE(remote().read("big1") == content(1)) << "big1 differs";
  EXPECT_FALSE(remote().exists("big2")) << "a truncated target is left on the server";
  EXPECT_FALSE(remote().exists("big3"));
  expectNoLeftovers();
  EXPECT_EQ(localRecords(), "big1");
  EXPECT_EQ(serverRecords(), "big1");

  RunResult second = run();
  expectOutput(second, creating("big2", "server") + creating("big3", "server"));
  EXPECT_TRUE(second.exitedWith(0)) << second.describe();
  for (int i = 1; i <= 3; ++i)
    EXPECT_TRUE(remote().read("big" + std::to_string(i)) == content(i)) << "big" << i << " differs";
  expectNoLeftovers();
  EXPECT_EQ(localRecords(), "big1 big2 big3");
}

TEST_P(Interruption, CtrlCDuringADownloadKeepsWhatWasDoneAndTheNextRunFinishes) {
  writeBigFiles(remote());
  LiveRun live(arguments(), "");
  ASSERT_TRUE(live.started());
  RunResult result = interruptDuringSecondTransfer(live, "local", SIGINT);

  expectOutput(result, creating("big1", "local") + creating("big2", "local") + kInterruptedLine);
  EXPECT_TRUE(result.exitedWith(130)) << result.describe();
  EXPECT_TRUE(result.terminalRestored());
  EXPECT_TRUE(local.read("big1") == content(1)) << "big1 differs";
  EXPECT_FALSE(local.exists("big2")) << "a truncated target is left locally";
  EXPECT_FALSE(local.exists("big3"));
  expectNoLeftovers();
  EXPECT_EQ(localRecords(), "big1");
  EXPECT_EQ(serverRecords(), "big1");

  RunResult second = run();
  expectOutput(second, creating("big2", "local") + creating("big3", "local"));
  EXPECT_TRUE(second.exitedWith(0)) << second.describe();
  for (int i = 1; i <= 3; ++i)
    EXPECT_TRUE(local.read("big" + std::to_string(i)) == content(i)) << "big" << i << " differs";
  expectNoLeftovers();
}

TEST_P(InterruptionOnOneServer, SigtermEndsWith143) {
  writeBigFiles(local);
  LiveRun live(arguments(), "");
  ASSERT_TRUE(live.started());
  RunResult result = interruptDuringSecondTransfer(live, "server", SIGTERM);
  expectOutput(result, creating("big1", "server") + creating("big2", "server") + kInterruptedLine);
  EXPECT_TRUE(result.exitedWith(143)) << result.describe();
  EXPECT_FALSE(remote().exists("big2"));
  expectNoLeftovers();
  EXPECT_EQ(localRecords(), "big1");
}

TEST_P(InterruptionOnOneServer, TwoCtrlCsInARowDuringATransfer) {
  writeBigFiles(local);
  LiveRun live(arguments(), "");
  ASSERT_TRUE(live.started());
  ASSERT_TRUE(live.waitFor(creating("big2", "server"), 30s)) << live.output();
  live.pause(500ms);
  live.signal(SIGINT);
  // Apart, so that the kernel does not merge the two into one.
  live.pause(5ms);
  live.signal(SIGINT);
  RunResult result = live.finish(5s);
  EXPECT_TRUE(result.exitedWith(130)) << result.describe();
  EXPECT_TRUE(result.terminalRestored());
  EXPECT_FALSE(remote().exists("big2")) << "a truncated target is left on the server";

  // A hard stop may have saved nothing: big1 is then on both sides without a
  // record, and -y settles it. Nothing is lost and nothing is left over.
  RunResult second = run({"-y"});
  EXPECT_TRUE(second.exitedWith(0)) << second.describe();
  for (int i = 1; i <= 3; ++i)
    EXPECT_TRUE(remote().read("big" + std::to_string(i)) == content(i)) << "big" << i << " differs";
  // The stopped run's temporary file may stay on the server: it is not listed,
  // and a later run removes it once it is a day old.
}

TEST_P(InterruptionOnOneServer, CtrlCAtAQuestionStopsBeforeTheNextAction) {
  local.write("a", "local a", kOld);
  remote().write("a", "server a", kOld);
  local.write("b", "local b", kOld);
  local.write("c", "local c", kOld);
  remote().write("b", "server b", kOld);
  const Answer overwrite{existsQuestion("a", "server"), "y"};
  const std::string question = existsQuestion("b", "server");
  LiveRun live(arguments(), "");
  ASSERT_TRUE(live.started());
  ASSERT_TRUE(live.waitForQuestion(overwrite.question)) << live.output();
  live.send(overwrite.key);
  ASSERT_TRUE(live.waitForQuestion(question)) << live.output();
  live.signal(SIGINT);
  RunResult result = live.finish(20s);
  // The unanswered question gets its line end, then the interruption line follows.
  expectOutput(result,
               asked(overwrite) + updating("a", "server") + question + "\n" + kInterruptedLine);
  EXPECT_TRUE(result.exitedWith(130)) << result.describe();
  EXPECT_TRUE(result.terminalRestored());
  EXPECT_EQ(remote().read("a"), "local a");
  EXPECT_EQ(remote().read("b"), "server b");
  EXPECT_FALSE(remote().exists("c")) << "the run went on after the interruption";
  EXPECT_EQ(localRecords(), "a");
  EXPECT_EQ(serverRecords(), "a");
  expectNoLeftovers();
}

TEST_P(InterruptionOnOneServer, WhatTheRunDidNotReachIsNotRecorded) {
  // "a" is done and recorded, big1 is interrupted, and the pair "c" differs on
  // the two sides: until someone answers the question about it, no run may
  // take the two copies of "c" for synchronised.
  const std::string big = randomBytes(kFileSize, 1);
  local.write("a", "a", kOld);
  local.write("big1", big, kOld);
  local.write("c", "local c", kOld);
  remote().write("c", "server c", kOld);
  LiveRun live(arguments(), "");
  ASSERT_TRUE(live.started());
  ASSERT_TRUE(live.waitFor(creating("big1", "server"), 30s)) << live.output();
  live.pause(500ms);
  live.signal(SIGINT);
  RunResult result = live.finish(20s);
  EXPECT_TRUE(result.exitedWith(130)) << result.describe();
  EXPECT_EQ(localRecords(), "a");
  EXPECT_EQ(serverRecords(), "a");

  const Answer keep{existsQuestion("c", "server"), "n"};
  PtyRun again;
  again.arguments = arguments();
  again.steps = {{keep.question, keep.key}};
  again.stepTimeoutSeconds = 10;
  again.timeoutSeconds = 30;
  RunResult second = again.run();
  expectOutput(second, creating("big1", "server") + asked(keep));
  EXPECT_TRUE(second.exitedWith(0)) << second.describe();
  EXPECT_TRUE(remote().read("big1") == big) << "big1 differs";
  EXPECT_EQ(remote().read("c"), "server c");
}

// The server accepts the connection and never says a word: the first Ctrl+C
// may have to wait for libcurl, the second ends the run at once.
TEST(InterruptionWhileConnecting, ASecondCtrlCEndsAtOnce) {
  int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(listener, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(listener, 4), 0);
  ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
  const std::string host = "127.0.0.1:" + std::to_string(ntohs(address.sin_port));
  TempTree local;

  LiveRun live({"-h", host, "-u", "user", "-p", "secret", "-l", local.path()}, "");
  ASSERT_TRUE(live.started());
  ASSERT_TRUE(live.waitFor("\nConnecting to FTP server '" + host + "' with 'user' user...\n"))
      << live.output();
  live.pause(300ms);
  live.signal(SIGINT);
  live.pause(500ms);
  const bool endedByTheFirst = live.ended();
  live.signal(SIGINT);
  const auto sent = Clock::now();
  RunResult result = live.finish(10s);
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - sent);
  close(listener);
  EXPECT_TRUE(result.exitedWith(130)) << result.describe();
  EXPECT_TRUE(result.terminalRestored());
  if (!endedByTheFirst) {
    EXPECT_LT(took.count(), 500) << "the second Ctrl+C took " << took.count() << " ms";
  }
  EXPECT_EQ(local.snapshot(), "");
}

INSTANTIATE_TEST_SUITE_P(Servers, Interruption, ::testing::ValuesIn(allServerKinds()), kindName);
INSTANTIATE_TEST_SUITE_P(Servers, InterruptionOnOneServer, ::testing::Values(ServerKind::vsftpd),
                         kindName);

}  // namespace
}  // namespace tandrel::testing
