// The harness itself: each server kind starts, lets its user log in and stops.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "support/ftp_server.h"
#include "support/pty_run.h"
#include "support/temp_tree.h"

namespace tandrel::testing {
namespace {

// Sends one command (none for the greeting) and returns the whole reply, all
// lines of a multi-line one ("220-..." up to "220 ...") included.
std::string ftpExchange(int fd, const std::string& command) {
  if (!command.empty()) {
    std::string line = command + "\r\n";
    if (send(fd, line.data(), line.size(), MSG_NOSIGNAL) < 0) return "send failed";
  }
  std::string reply;
  size_t lineStart = 0;
  char c;
  while (recv(fd, &c, 1, 0) == 1) {
    reply += c;
    if (c != '\n') continue;
    std::string line = reply.substr(lineStart);
    lineStart = reply.size();
    // The last line repeats the code with a space: "220 ".
    if (line.size() >= 4 && line[3] == ' ' && line.compare(0, 3, reply, 0, 3) == 0) break;
  }
  return reply;
}

class HarnessServer : public ::testing::TestWithParam<ServerKind> {};

TEST_P(HarnessServer, StartsLogsInAndStops) {
  std::string root;
  {
    FtpServer server(GetParam());
    ASSERT_TRUE(server.started()) << server.startError();
    root = server.root();
    EXPECT_TRUE(std::filesystem::is_directory(root));
    EXPECT_TRUE(std::filesystem::is_empty(root));
    EXPECT_EQ(server.hostArgument(), "127.0.0.1:" + std::to_string(server.port()));

    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(server.port()));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    timeval timeout{10, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    EXPECT_EQ(ftpExchange(fd, "").substr(0, 3), "220");
    EXPECT_EQ(ftpExchange(fd, "USER " + server.user()).substr(0, 3), "331");
    EXPECT_EQ(ftpExchange(fd, "PASS " + server.password()).substr(0, 3), "230") << server.log();
    std::string pwd = ftpExchange(fd, "PWD");
    if (server.kind() != ServerKind::pyftpdlib)  // pyftpdlib's paths are virtual
      EXPECT_NE(pwd.find('"' + server.root() + '"'), std::string::npos) << pwd;
    else
      EXPECT_NE(pwd.find("\"/\""), std::string::npos) << pwd;
    EXPECT_EQ(ftpExchange(fd, "MKD made").substr(0, 3), "257");
    EXPECT_TRUE(std::filesystem::is_directory(server.root() + "/made"));
    ftpExchange(fd, "QUIT");
    close(fd);
  }
  EXPECT_FALSE(std::filesystem::exists(root)) << "server directory left behind";
}

INSTANTIATE_TEST_SUITE_P(Servers, HarnessServer, ::testing::ValuesIn(allServerKinds()),
                         [](const auto& info) { return serverKindName(info.param); });

TEST(HarnessTempTree, SnapshotListsFilesAndDirectoriesSorted) {
  TempTree tree;
  tree.write("b.txt", "bee");
  tree.write("a/x.txt", "ex");
  tree.mkdir("empty");
  tree.write("zztandrel.zzlocaldb", "db");
  EXPECT_EQ(tree.snapshot(),
            "a/\n"
            "a/x.txt:ex\n"
            "b.txt:bee\n"
            "empty/\n"
            "zztandrel.zzlocaldb:db\n");
  EXPECT_EQ(tree.snapshot(SnapshotOptions{.skipToolFiles = true}),
            "a/\n"
            "a/x.txt:ex\n"
            "b.txt:bee\n"
            "empty/\n");
  EXPECT_EQ(tree.read("a/x.txt"), "ex");
  EXPECT_TRUE(tree.exists("empty"));
  EXPECT_FALSE(tree.exists("nothing"));
}

TEST(HarnessTempTree, WriteSetsTheGivenModificationTime) {
  TempTree tree;
  tree.write("old.txt", "o", 1'000'000'000);
  EXPECT_EQ(tree.mtime("old.txt"), 1'000'000'000);
}

TEST(HarnessTempTree, CompareShowsTheDifference) {
  TempTree left, right;
  left.write("same", "1");
  right.write("same", "1");
  EXPECT_EQ(compareTrees(left.path(), right.path()), "");
  right.write("extra", "2");
  EXPECT_NE(compareTrees(left.path(), right.path()), "");
}

TEST(HarnessPty, RunsACommandAndAnswersAPrompt) {
  PtyRun run;
  run.program = "/bin/sh";
  run.arguments = {"-c", "printf 'Answer? '; read x; echo \"got $x\"; exit 3"};
  // sh reads a whole line, so the terminal stays canonical: no waiting for raw mode.
  run.steps = {{.waitFor = "Answer? ", .send = "yes\r", .waitForKeyRead = false}};
  RunResult result = run.run();
  EXPECT_EQ(result.exitCode, 3) << result.describe();
  EXPECT_NE(result.output.find("got yes\n"), std::string::npos) << result.describe();
  EXPECT_FALSE(result.timedOut);
  EXPECT_TRUE(result.terminalRestored());
}

TEST(HarnessPty, SendsKeysOnlyOnceTheProgramReadsSingleKeys) {
  PtyRun run;
  run.program = "/bin/sh";
  // The question comes before the switch to raw mode; a key sent at once would
  // be echoed by the terminal. The sleep makes that window wide.
  run.arguments = {"-c",
                   "printf 'Key? '; sleep 0.3; stty raw -echo; k=$(dd bs=1 count=1 2>/dev/null);"
                   " stty sane; echo \"[$k]\""};
  run.steps = {{.waitFor = "Key? ", .send = "x"}};
  RunResult result = run.run();
  EXPECT_TRUE(result.exitedWith(0)) << result.describe();
  EXPECT_EQ(result.output, "Key? [x]\n") << result.describe();
  EXPECT_EQ(result.rawWhenTextSeen, std::vector<bool>{false});
}

TEST(HarnessPty, SeesATerminalLeftInRawMode) {
  PtyRun run;
  run.program = "/bin/sh";
  run.arguments = {"-c", "stty raw -echo; echo done"};
  RunResult result = run.run();
  EXPECT_TRUE(result.exitedWith(0)) << result.describe();
  EXPECT_FALSE(result.terminalRestored());
}

TEST(HarnessPty, TimeoutKillsAHangingChild) {
  PtyRun run;
  run.program = "/bin/sh";
  run.arguments = {"-c", "echo start; sleep 30"};
  run.timeoutSeconds = 1;
  RunResult result = run.run();
  EXPECT_TRUE(result.timedOut) << result.describe();
  EXPECT_EQ(result.output, "start\n");
}

TEST(HarnessPipe, FeedsStandardInputAndCapturesOutput) {
  RunResult result =
      runPiped("/bin/sh", {"-c", "cat; echo \"[$(pwd)]\""}, "abc\n", "/tmp");
  EXPECT_EQ(result.output, "abc\n[/tmp]\n") << result.describe();
  EXPECT_EQ(result.exitCode, 0);
}

}  // namespace
}  // namespace tandrel::testing
