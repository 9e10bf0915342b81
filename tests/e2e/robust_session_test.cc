// A run that waits at a question meets the world around it: the server drops
// the idle connection, cron starts a second run on the same directory, and
// anyone on the machine can read the process's command line.
#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <sstream>
#include <thread>

#include "e2e/robust_fixture.h"
#include "e2e/robust_live_run.h"

namespace tandrel::testing {
namespace {

using namespace std::chrono_literals;

constexpr int64_t kOld = 1700000000;

int count(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// ---- The server drops the connection while the user thinks ----------------------

using IdleQuestion = RobustTest;

TEST_P(IdleQuestion, AnswersGivenAfterTheServersIdleTimeoutStillTakeEffect) {
  startServer({.idleTimeoutSeconds = 2});
  local.write("a", "local a", kOld);
  remote().write("a", "server a", kOld);
  local.write("b", "local b", kOld);
  local.write("d/x", "x in d", kOld);
  const Answer overwrite{existsQuestion("a", "server"), "y"};
  const Answer create{createDirectoryQuestion("d", "server"), "y"};

  LiveRun live(arguments({"-r"}), "");
  ASSERT_TRUE(live.started());
  // Each answer comes a second after the server has dropped the connection:
  // the upload, then the MKD and the change into the new directory, each go
  // out on a connection of their own making.
  ASSERT_TRUE(live.waitForQuestion(overwrite.question)) << live.output();
  live.pause(3200ms);
  live.send(overwrite.key);
  ASSERT_TRUE(live.waitForQuestion(create.question)) << live.output();
  live.pause(3200ms);
  live.send(create.key);
  RunResult result = live.finish();

  expectOutput(result, asked(overwrite) + updating("a", "server") + creating("b", "server") +
                           asked(create) + entering("d") + creating("x", "server"));
  EXPECT_TRUE(result.exitedWith(0)) << result.describe();
  EXPECT_EQ(remote().snapshot({.skipToolFiles = true}),
            "a:local a\nb:local b\nd/\nd/x:x in d\n");
  expectNoLeftovers();
  if (kind() == ServerKind::pyftpdlib) {
    // The test is only worth something if the server did drop the connection.
    EXPECT_GE(count(ftp().log(), "FTP session opened"), 3) << ftp().log();
  }
  expectQuietRerun({"-r"}, entering("d"));
}

// pure-ftpd counts idle time in whole minutes.
INSTANTIATE_TEST_SUITE_P(Servers, IdleQuestion,
                         ::testing::Values(ServerKind::pyftpdlib, ServerKind::vsftpd), kindName);

// ---- One run at a time ----------------------------------------------------------------

class OneRunAtATime : public RobustTest {
 protected:
  void SetUp() override {
    startServer();
    local.write("a", "local a", kOld);
    remote().write("a", "server a", kOld);
  }
  std::string lockedLines(const std::string& directory) const {
    return "\nTandrel V1.0\n"
           "Two-way synchronisation of a local directory tree with an FTP server\n"
           "\nError: Another run is synchronizing local directory '" +
           directory + "' right now\n";
  }
  const Answer keep{existsQuestion("a", "server"), "n"};
};

TEST_P(OneRunAtATime, ASecondRunStopsAtOnceWithoutTouchingAnything) {
  LiveRun first(arguments(), "");
  ASSERT_TRUE(first.started());
  ASSERT_TRUE(first.waitForQuestion(keep.question)) << first.output();
  const std::string localBefore = local.snapshot();
  const std::string sessionsBefore = ftp().log();

  RunResult second = runTool(arguments(), "");
  EXPECT_EQ(second.output, lockedLines(local.path())) << second.describe();
  EXPECT_TRUE(second.exitedWith(1)) << second.describe();
  EXPECT_EQ(second.errorOutput, "");
  // The same directory by another spelling, from inside it, is the same lock.
  RunResult third = runTool({"-h", ftp().hostArgument(), "-u", ftp().user(), "-p",
                             ftp().password(), "-l", local.path() + "/."},
                            local.path());
  EXPECT_EQ(third.output, lockedLines(local.path() + "/.")) << third.describe();
  EXPECT_TRUE(third.exitedWith(1)) << third.describe();

  EXPECT_EQ(local.snapshot(), localBefore) << "the second run touched the local tree";
  if (kind() == ServerKind::pyftpdlib) {
    EXPECT_EQ(count(ftp().log(), "FTP session opened"), count(sessionsBefore, "FTP session opened"))
        << "the second run connected to the server:\n"
        << ftp().log();
  }

  first.send(keep.key);
  RunResult firstResult = first.finish();
  expectOutput(firstResult, asked(keep));
  EXPECT_TRUE(firstResult.exitedWith(0)) << firstResult.describe();

  // The lock went with the first run, and it left no file behind.
  RunResult after = run({}, {keep});
  expectOutput(after, asked(keep));
  EXPECT_TRUE(after.exitedWith(0)) << after.describe();
  EXPECT_EQ(local.snapshot(), "a:local a\n");
}

TEST_P(OneRunAtATime, TheLockDiesWithTheProcess) {
  {
    LiveRun killed(arguments(), "");
    ASSERT_TRUE(killed.started());
    ASSERT_TRUE(killed.waitForQuestion(keep.question)) << killed.output();
    killed.signal(SIGKILL);
    RunResult result = killed.finish();
    EXPECT_EQ(result.signal, SIGKILL) << result.describe();
  }
  RunResult next = run({}, {keep});
  expectOutput(next, asked(keep));
  EXPECT_TRUE(next.exitedWith(0)) << next.describe();
}

INSTANTIATE_TEST_SUITE_P(Servers, OneRunAtATime, ::testing::Values(ServerKind::pyftpdlib),
                         kindName);

// ---- The password in the process listing ------------------------------------------------

using PasswordInProcessList = RobustTest;

TEST_P(PasswordInProcessList, IsGoneWhileTheRunWaitsAtAQuestion) {
  startServer();
  local.write("a", "local a", kOld);
  remote().write("a", "server a", kOld);
  const Answer keep{existsQuestion("a", "server"), "n"};
  LiveRun live(arguments(), "");
  ASSERT_TRUE(live.started());
  ASSERT_TRUE(live.waitForQuestion(keep.question)) << live.output();

  std::ifstream in("/proc/" + std::to_string(live.pid()) + "/cmdline", std::ios::binary);
  std::ostringstream read;
  read << in.rdbuf();
  const std::string commandLine = read.str();
  EXPECT_EQ(commandLine.find(ftp().password()), std::string::npos) << quoted(commandLine);
  // The password's letters are not merely shuffled about either.
  EXPECT_EQ(commandLine.find(ftp().password().substr(0, 7)), std::string::npos)
      << quoted(commandLine);
  // The rest of the command line is still there for ps to show.
  EXPECT_NE(commandLine.find(std::string("-u") + '\0' + ftp().user() + '\0'), std::string::npos)
      << quoted(commandLine);
  EXPECT_NE(commandLine.find(local.path()), std::string::npos) << quoted(commandLine);

  live.send(keep.key);
  RunResult result = live.finish();
  expectOutput(result, asked(keep));
  EXPECT_TRUE(result.exitedWith(0)) << result.describe();
}

INSTANTIATE_TEST_SUITE_P(Servers, PasswordInProcessList, ::testing::Values(ServerKind::pyftpdlib),
                         kindName);

}  // namespace
}  // namespace tandrel::testing
