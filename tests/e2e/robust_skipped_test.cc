// Entries a run cannot handle are left alone on both sides until they can be
// handled; a server link to a directory on a LIST-only server is a directory.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "e2e/robust_fixture.h"

namespace tandrel::testing {
namespace {

constexpr int64_t kOld = 1700000000;
const std::string kStatFailed = "-?????????  ? ?    ?       ?            ? g.txt";
const std::string kMayBeNew = "-????????? ? ? ? ? ? new.txt";

enum class Skip { danglingLink, fifo, unreadableLine };

class SkippedEntries : public RobustBase, public ::testing::WithParamInterface<Skip> {
 protected:
  // The pyftpdlib server lists with LIST only, adding `lines` to every listing.
  void listLines(const std::string& lines) {
    std::ofstream(faults.pathOf("faults.json"))
        << R"({"no_mlsx": true, "list_lines": [)" << lines << "]}";
  }
  TempTree faults;
};

TEST_P(SkippedEntries, KeepTheirRecordAndTheOtherSideUntilReadable) {
  listLines("");
  ServerOptions options;
  options.faultsFile = faults.pathOf("faults.json");
  startServer(ServerKind::pyftpdlib, options);
  local.write("g.txt", "last copy", kOld);
  ASSERT_TRUE(run({"-y"}).exitedWith(0));
  const int64_t serverTime = remote().mtime("g.txt");
  std::string warnings = "Warning: Skipping 'g.txt' on local: ";
  if (GetParam() == Skip::unreadableLine) {
    // Also a new local file of a name such a line shows (not put over it),
    // and a name that leads out of the directory.
    remote().remove("g.txt");
    local.write("new.txt", "new", kOld);
    listLines('"' + kStatFailed + "\", \"" + kMayBeNew +
              "\", \"-rw-r--r-- 1 u g 1 Jan 15  2020 ../up.txt\"");
    warnings = "Warning: Can't read the server's listing line '" + kStatFailed + "'\n" +
               "Warning: Can't read the server's listing line '" + kMayBeNew + "'\n" +
               "Warning: Skipping '../up.txt' on server: the name leads out of the directory\n";
  } else {
    local.remove("g.txt");
    const std::string path = local.pathOf("g.txt");
    if (GetParam() == Skip::danglingLink) {
      ASSERT_EQ(symlink("/nowhere/g.txt", path.c_str()), 0);
      warnings += "symbolic link to nothing\n";
    } else {
      ASSERT_EQ(mkfifo(path.c_str(), 0644), 0);
      warnings += "not a regular file or directory\n";
    }
  }
  for (int again = 0; again < 2; ++again) {
    RunResult result = run({"-y"});
    expectOutput(result, warnings);
    EXPECT_TRUE(result.exitedWith(1)) << result.describe();
    EXPECT_EQ(recordedNames(local.path(), "zztandrel.zzserverdb"), "g.txt");
  }
  // Readable again: as if the runs in between had not happened.
  if (GetParam() == Skip::unreadableLine) {
    remote().write("g.txt", "last copy", serverTime);
    local.remove("new.txt");
    listLines("");
  } else {
    local.remove("g.txt");
    local.write("g.txt", "last copy", kOld);
  }
  expectQuietRerun({"-y"});
  EXPECT_EQ(remote().read("g.txt"), "last copy");
}

INSTANTIATE_TEST_SUITE_P(Cases, SkippedEntries,
                         ::testing::Values(Skip::danglingLink, Skip::fifo, Skip::unreadableLine));

using ServerLinks = RobustBase;

TEST_F(ServerLinks, ALinkThatCanBeEnteredIsADirectory) {
  startServer(ServerKind::vsftpd);
  remote().write("realdir/x", "x", kOld);
  ASSERT_EQ(symlink("realdir", remote().pathOf("linkdir").c_str()), 0);
  RunResult result = run({"-r", "-y"});
  EXPECT_TRUE(result.exitedWith(0)) << result.describe();
  EXPECT_EQ(local.read("linkdir/x"), "x");
  expectQuietRerun({"-r", "-y"}, "Synchronizing directory 'linkdir'...\n"
                                 "Synchronizing directory 'realdir'...\n");

  // Deleted locally, under -y -f: the link goes as a link, and nothing is
  // looked at, kept or removed behind it.
  remote().mkdir("realdir/empty");
  local.mkdir("realdir/empty");
  local.remove("linkdir");
  result = run({"-r", "-y", "-f"});
  EXPECT_TRUE(result.exitedWith(0)) << result.describe();
  EXPECT_NE(result.output.find("Deleting directory 'linkdir' on server"), std::string::npos)
      << result.describe();
  EXPECT_FALSE(remote().exists("linkdir"));
  EXPECT_TRUE(remote().exists("realdir/empty"));
  EXPECT_EQ(remote().read("realdir/x"), "x");
}

}  // namespace
}  // namespace tandrel::testing
