// What a real local tree holds besides plain files and directories: symbolic
// links (to files, to directories, back up the tree, to nothing), FIFOs,
// sockets and device nodes, and names that are awkward on the wire.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "e2e/robust_fixture.h"
#include "e2e/robust_live_run.h"

namespace tandrel::testing {
namespace {

constexpr int64_t kOld = 1700000000;

std::string skipping(const std::string& name, const std::string& why) {
  return "Warning: Skipping '" + name + "' on local: " + why + "\n";
}
const std::string kNothing = "symbolic link to nothing";
const std::string kCycle = "symbolic link to a directory being synchronized";
const std::string kSpecial = "not a regular file or directory";

void makeLink(const std::string& target, const std::string& path) {
  ASSERT_EQ(symlink(target.c_str(), path.c_str()), 0) << path;
}

// ---- Symbolic links --------------------------------------------------------------

using LocalLinks = RobustTest;

TEST_P(LocalLinks, AreFollowedExceptIntoCyclesAndNowhere) {
  startServer();
  TempTree elsewhere;
  elsewhere.write("o", "outside the tree", kOld);
  local.write("real.txt", "real", kOld);
  makeLink("real.txt", local.pathOf("link.txt"));
  local.write("realdir/x", "x", kOld);
  // Back to the start directory.
  makeLink("..", local.pathOf("realdir/back"));
  // A directory outside the tree is followed like any other; inside it, a
  // link to itself is a cycle too.
  makeLink(elsewhere.path(), local.pathOf("outside"));
  makeLink(".", elsewhere.pathOf("self"));
  makeLink("nowhere", local.pathOf("dangling"));

  const std::string warnings = skipping("dangling", kNothing);
  RunResult result = run({"-r", "-y"});
  expectOutput(result, warnings + creating("link.txt", "server") + creating("real.txt", "server") +
                           entering("outside") + skipping("self", kCycle) +
                           creating("o", "server") + entering("realdir") +
                           skipping("back", kCycle) + creating("x", "server"));
  // The warnings count as problems: the exit status says that not everything
  // was synchronised.
  EXPECT_TRUE(result.exitedWith(1)) << result.describe();
  EXPECT_EQ(remote().snapshot({.skipToolFiles = true}),
            "link.txt:real\n"
            "outside/\n"
            "outside/o:outside the tree\n"
            "real.txt:real\n"
            "realdir/\n"
            "realdir/x:x\n");
  expectNoLeftovers();
  // The links themselves are untouched.
  EXPECT_EQ(local.snapshot({.skipToolFiles = true}),
            "dangling -> nowhere\n"
            "link.txt -> real.txt\n"
            "outside -> " + elsewhere.path() + "\n"
            "real.txt:real\n"
            "realdir/\n"
            "realdir/back -> ..\n"
            "realdir/x:x\n");

  // The same warnings again, and nothing else.
  expectQuietRerun({"-r", "-y"},
                   warnings + entering("outside") + skipping("self", kCycle) +
                       entering("realdir") + skipping("back", kCycle),
                   1);

  // A change of the file behind the link is a change of the link as well.
  local.write("real.txt", "edited", kOld + 86400);
  RunResult edited = run();
  expectOutput(edited, warnings + updating("link.txt", "server") + updating("real.txt", "server"));
  EXPECT_EQ(remote().read("link.txt"), "edited");
  EXPECT_EQ(remote().read("real.txt"), "edited");
}

// A second way into a directory of the tree: the directory and the link share
// one pair of state files, so whatever one of them records, the other must not
// take for a deletion.
TEST_P(LocalLinks, ALinkToADirectoryOfTheTreeLosesNothing) {
  startServer();
  local.write("realdir/x", "x", kOld);
  makeLink("realdir", local.pathOf("linkdir"));
  RunResult first = run({"-r", "-y"});
  EXPECT_EQ(local.read("realdir/x"), "x") << "the file was deleted\n" << first.describe();
  EXPECT_EQ(first.output.find("Deleting"), std::string::npos) << first.describe();
  RunResult second = run({"-r", "-y"});
  EXPECT_EQ(local.read("realdir/x"), "x") << "the file was deleted\n" << second.describe();
  EXPECT_EQ(second.output.find("Deleting"), std::string::npos) << second.describe();
  EXPECT_EQ(second.output.find("Creating"), std::string::npos)
      << "the second run did not settle\n"
      << second.describe();
}

// The same with two links to one directory outside the tree.
TEST_P(LocalLinks, TwoLinksToOneDirectoryLoseNothing) {
  startServer();
  TempTree elsewhere;
  elsewhere.write("x", "x", kOld);
  makeLink(elsewhere.path(), local.pathOf("a"));
  makeLink(elsewhere.path(), local.pathOf("b"));
  RunResult first = run({"-r", "-y"});
  EXPECT_EQ(elsewhere.read("x"), "x") << "the file was deleted\n" << first.describe();
  EXPECT_EQ(first.output.find("Deleting"), std::string::npos) << first.describe();
  RunResult second = run({"-r", "-y"});
  EXPECT_EQ(elsewhere.read("x"), "x") << "the file was deleted\n" << second.describe();
  EXPECT_EQ(second.output.find("Deleting"), std::string::npos) << second.describe();
  EXPECT_EQ(second.output.find("Creating"), std::string::npos)
      << "the second run did not settle\n"
      << second.describe();
}

INSTANTIATE_TEST_SUITE_P(Servers, LocalLinks, ::testing::Values(ServerKind::pyftpdlib), kindName);

// ---- FIFOs, sockets and device nodes -----------------------------------------------

using SpecialFiles = RobustTest;

TEST_P(SpecialFiles, AreReportedAndSkippedWithoutBlocking) {
  startServer();
  local.write("ok", "plain", kOld);
  ASSERT_EQ(mkfifo(local.pathOf("fifo").c_str(), 0644), 0);
  // A socket file stays behind after its socket is closed.
  int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string socketPath = local.pathOf("sock");
  ASSERT_LT(socketPath.size(), sizeof address.sun_path);
  std::copy(socketPath.begin(), socketPath.end(), address.sun_path);
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  close(fd);
  // The same device as /dev/null; the tests run as root.
  ASSERT_EQ(mknod(local.pathOf("device").c_str(), S_IFCHR | 0644, makedev(1, 3)), 0);
  // A link to a FIFO is no better than the FIFO.
  makeLink("fifo", local.pathOf("to-fifo"));

  RunResult result = run();
  ASSERT_FALSE(result.timedOut) << result.describe();
  // The warnings come in the order the directory lists them.
  const std::string shown = withErasuresApplied(result.rawOutput);
  std::vector<std::string> warnings;
  for (const char* name : {"device", "fifo", "sock", "to-fifo"}) {
    const std::string line = skipping(name, kSpecial);
    EXPECT_NE(shown.find(line), std::string::npos) << line << result.describe();
    warnings.push_back(line);
  }
  std::string warned;
  for (size_t at = startLines().size(); at < shown.size();) {
    size_t end = shown.find('\n', at);
    std::string line = shown.substr(at, end - at + 1);
    if (line.starts_with("Warning: ")) warned += line;
    at = end + 1;
  }
  EXPECT_EQ(warned.size(), (warnings[0] + warnings[1] + warnings[2] + warnings[3]).size())
      << quoted(warned);
  EXPECT_TRUE(shown.ends_with(creating("ok", "server"))) << result.describe();
  EXPECT_TRUE(result.exitedWith(1)) << result.describe();
  EXPECT_EQ(remote().snapshot({.skipToolFiles = true}), "ok:plain\n");
  EXPECT_EQ(recordedNames(local.path(), "zztandrel.zzlocaldb"), "ok");
}

INSTANTIATE_TEST_SUITE_P(Servers, SpecialFiles, ::testing::Values(ServerKind::pyftpdlib),
                         kindName);

// ---- Awkward names --------------------------------------------------------------------

std::vector<std::string> awkwardNames(ServerKind kind) {
  std::vector<std::string> names = {"in ner",  "per%cent", "per%25cent", "hash#",
                                    "what?",   "star*",    "[bracket",   "-dash",
                                    "a -> b",  "semi;type=a", "caf\xe9", "plus+sign",
                                    std::string(255, 'n')};
  // pure-ftpd turns leading and trailing spaces into '_' whatever the client sends.
  if (kind != ServerKind::pureftpd) {
    for (const char* spaced : {" lead", "trail ", "  both  "}) names.push_back(spaced);
  }
  return names;
}

using AwkwardNames = RobustTest;

TEST_P(AwkwardNames, TravelBothWaysAndStaySettled) {
  startServer();
  const std::vector<std::string> names = awkwardNames(kind());
  for (const std::string& name : names) {
    local.write("up/" + name, "up " + name, kOld);
    remote().write("down/" + name, "down " + name, kOld);
  }
  // Directories with awkward names, each with a file in it.
  for (const std::string& directory : {std::string("dir with space"), std::string("-dir"),
                                       std::string("caf\xe9 dir"), std::string("[d]")}) {
    local.write("up/" + directory + "/f", "in " + directory, kOld);
  }
  RunResult result = run({"-r", "-y"});
  EXPECT_TRUE(result.exitedWith(0)) << result.describe();
  EXPECT_EQ(result.output.find("Error"), std::string::npos) << result.describe();
  EXPECT_EQ(result.output.find("Warning"), std::string::npos) << result.describe();
  EXPECT_EQ(compareTrees(local.path(), ftp().root(), {.skipToolFiles = true}), "");
  for (const std::string& name : names) {
    EXPECT_EQ(remote().read("up/" + name), "up " + name) << quoted(name);
    EXPECT_EQ(local.read("down/" + name), "down " + name) << quoted(name);
  }
  expectNoLeftovers();
  std::string directories = entering("down") + entering("up");
  std::vector<std::string> inUp = {"-dir", "[d]", "caf\xe9 dir", "dir with space"};
  std::sort(inUp.begin(), inUp.end());
  for (const std::string& directory : inUp) directories += entering(directory);
  expectQuietRerun({"-r", "-y"}, directories);
}

TEST_P(AwkwardNames, ALineBreakInANameIsReportedAndNothingElseIsTouched) {
  startServer();
  local.write("bad\nname", "x", kOld);
  local.write("carriage\rreturn", "x", kOld);
  local.write("good", "good", kOld);
  RunResult result = run();
  // In the order the directory lists them.
  const std::string lf = "Error: Skipping 'bad\\nname' on local: its name holds a line break\n";
  const std::string cr =
      "Error: Skipping 'carriage\\rreturn' on local: its name holds a line break\n";
  const std::string shown = withErasuresApplied(result.rawOutput);
  const std::string start = startLines();
  EXPECT_TRUE(shown == start + lf + cr + creating("good", "server") ||
              shown == start + cr + lf + creating("good", "server"))
      << result.describe();
  EXPECT_TRUE(result.exitedWith(1)) << result.describe();
  EXPECT_EQ(remote().snapshot({.skipToolFiles = true}), "good:good\n");
  EXPECT_EQ(recordedNames(local.path(), "zztandrel.zzlocaldb"), "good");
}

INSTANTIATE_TEST_SUITE_P(Servers, AwkwardNames, ::testing::ValuesIn(allServerKinds()), kindName);

}  // namespace
}  // namespace tandrel::testing
