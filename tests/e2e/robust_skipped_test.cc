// Entries a run cannot handle (a dangling link, a FIFO, a server listing line
// it cannot read) are left alone on both sides until they can be handled, and
// a server link to a directory on a LIST-only server is a directory.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <string>

#include "e2e/robust_fixture.h"

namespace tandrel::testing {
namespace {

constexpr int64_t kOld = 1700000000;
const std::string kStatFailed = "-?????????  ? ?    ?       ?            ? g.txt";

class SkippedEntries;
struct SkipCase {
  const char* name;
  std::function<void(SkippedEntries&)> breakIt;  // after g.txt was synchronised
  std::string warning;
  std::function<void(SkippedEntries&)> mendIt;  // g.txt is readable again
};

class SkippedEntries : public RobustBase, public ::testing::WithParamInterface<SkipCase> {
 public:
  using RobustBase::local;
  using RobustBase::remote;
  // Faults of the pyftpdlib server: LIST only, plus `lines` in every listing.
  void listLines(const std::string& lines) {
    std::ofstream(faults_.pathOf("faults.json")) << R"({"no_mlsx": true, "list_lines": [)"
                                                 << lines << "]}";
  }
  TempTree faults_;
  int64_t serverTime_ = 0;
};

void restoreLocal(SkippedEntries& t) {
  t.local.remove("g.txt");
  t.local.write("g.txt", "last copy", kOld);
}

TEST_P(SkippedEntries, KeepTheirRecordAndTheOtherSideUntilReadable) {
  listLines("");
  ServerOptions options;
  options.faultsFile = faults_.pathOf("faults.json");
  startServer(ServerKind::pyftpdlib, options);
  local.write("g.txt", "last copy", kOld);
  ASSERT_TRUE(run({"-y"}).exitedWith(0));
  GetParam().breakIt(*this);
  for (int again = 0; again < 2; ++again) {
    RunResult result = run({"-y"});
    expectOutput(result, GetParam().warning);
    EXPECT_TRUE(result.exitedWith(1)) << result.describe();
    EXPECT_EQ(recordedNames(local.path(), "zztandrel.zzserverdb"), "g.txt");
  }
  GetParam().mendIt(*this);
  expectQuietRerun({"-y"});
  EXPECT_EQ(remote().read("g.txt"), "last copy");
  EXPECT_EQ(local.read("g.txt"), "last copy");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SkippedEntries,
    ::testing::Values(
        SkipCase{"DanglingLink",
                 [](SkippedEntries& t) {
                   t.local.remove("g.txt");
                   ASSERT_EQ(symlink("/nowhere/g.txt", t.local.pathOf("g.txt").c_str()), 0);
                 },
                 "Warning: Skipping 'g.txt' on local: symbolic link to nothing\n", restoreLocal},
        SkipCase{"Fifo",
                 [](SkippedEntries& t) {
                   t.local.remove("g.txt");
                   ASSERT_EQ(mkfifo(t.local.pathOf("g.txt").c_str(), 0644), 0);
                 },
                 "Warning: Skipping 'g.txt' on local: not a regular file or directory\n",
                 restoreLocal},
        // The server lists g.txt in a line we cannot read (a new local file
        // of a name such a line shows is not put over it) and a name that
        // leads out of the directory.
        SkipCase{"UnreadableListingLine",
                 [](SkippedEntries& t) {
                   t.serverTime_ = t.remote().mtime("g.txt");
                   t.remote().remove("g.txt");
                   t.listLines('"' + kStatFailed + "\", \"-????????? ? ? ? ? ? new.txt\", " +
                               "\"-rw-r--r-- 1 u g 1 Jan 15  2020 ../up.txt\"");
                   t.local.write("new.txt", "not put over what the line may be", kOld);
                 },
                 "Warning: Can't read the server's listing line '" + kStatFailed + "'\n" +
                     "Warning: Can't read the server's listing line "
                     "'-????????? ? ? ? ? ? new.txt'\n"
                     "Warning: Skipping '../up.txt' on server: the name leads out of the directory\n",
                 [](SkippedEntries& t) {
                   t.remote().write("g.txt", "last copy", t.serverTime_);
                   t.local.remove("new.txt");
                   t.listLines("");
                 }}),
    [](const ::testing::TestParamInfo<SkipCase>& info) { return std::string(info.param.name); });

using ServerLinks = RobustBase;

TEST_F(ServerLinks, ALinkThatCanBeEnteredIsADirectory) {
  startServer(ServerKind::vsftpd);
  remote().write("realdir/x", "x", kOld);
  ASSERT_EQ(symlink("realdir", remote().pathOf("linkdir").c_str()), 0);
  RunResult result = run({"-r", "-y"});
  EXPECT_TRUE(result.exitedWith(0)) << result.describe();
  EXPECT_EQ(local.read("linkdir/x"), "x");
  EXPECT_EQ(local.read("realdir/x"), "x");
  expectQuietRerun({"-r", "-y"}, "Synchronizing directory 'linkdir'...\n"
                                 "Synchronizing directory 'realdir'...\n");
}

}  // namespace
}  // namespace tandrel::testing
