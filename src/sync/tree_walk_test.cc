// The walker's own rules, on a real temporary tree: which entries lead down,
// with and without following links, and that a walk that follows links never
// goes round a loop or back into the start directory.
#include "sync/tree_walk.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/faulty_sides.h"
#include "support/scoped_directory.h"
#include "support/status_check.h"
#include "support/temp_tree.h"
#include "support/test_run.h"

namespace tandrel {
namespace {

using testing::ScopedDirectory;
using testing::TempTree;

// Lists each directory it enters and walks wherever the walk lets it,
// recording the path of every directory it entered.
class Recorder : public TreeVisitor {
 public:
  explicit Recorder(bool follow) : follow_(follow) {}
  bool followsLinks() const override { return follow_; }
  Visited visit(TreeWalk& walk) override {
    std::vector<ListRecord> records;
    Status status = walk.side().list(records);
    for (const ListRecord& record : records) {
      if (!status.ok() || !walk.leadsDown(record)) continue;
      const std::string parent = path_;
      path_ += "/" + record.name;
      entered.push_back(path_);
      status = walk.walk(record.name);
      path_ = parent;
    }
    return {status, false};
  }
  std::vector<std::string> entered;

 private:
  bool follow_;
  std::string path_ = ".";
};

struct LeadsDownRow {
  RecordKind kind;
  bool isLink;
  bool follows;
  bool leadsDown;
};

class LeadsDown : public ::testing::TestWithParam<LeadsDownRow> {};

TEST_P(LeadsDown, FollowsTheLinkPolicy) {
  const LeadsDownRow& row = GetParam();
  testing::TestRun sides;
  Recorder visitor(row.follows);
  TreeWalk walk(sides.run, sides.local, visitor);
  ListRecord record;
  record.name = "x";
  record.kind = row.kind;
  record.isLink = row.isLink;
  EXPECT_EQ(walk.leadsDown(record), row.leadsDown);
}

INSTANTIATE_TEST_SUITE_P(Rows, LeadsDown,
                         ::testing::Values(LeadsDownRow{RecordKind::directory, false, false, true},
                                           LeadsDownRow{RecordKind::directory, true, false, false},
                                           LeadsDownRow{RecordKind::directory, true, true, true},
                                           LeadsDownRow{RecordKind::directory, false, true, true},
                                           LeadsDownRow{RecordKind::file, false, false, false},
                                           LeadsDownRow{RecordKind::file, true, true, false}));

TEST(TreeWalkLoops, AWalkThatFollowsLinksSkipsLoopsAndTheStartDirectory) {
  TempTree tree;
  ScopedDirectory here{tree.path()};
  tree.write("top/a/f", "1");
  ASSERT_EQ(symlink("..", tree.pathOf("top/a/up").c_str()), 0);
  ASSERT_EQ(symlink(".", tree.pathOf("top/a/self").c_str()), 0);
  ASSERT_EQ(symlink(tree.pathOf("top").c_str(), tree.pathOf("top/a/start").c_str()), 0);
  testing::TestRun sides;
  struct stat start {};
  ASSERT_EQ(stat(tree.pathOf("top").c_str(), &start), 0);
  ASSERT_TRUE(succeeded(sides.local.changeDirectory("top")));
  sides.run.localStartDevice = start.st_dev;
  sides.run.localStartInode = start.st_ino;
  Recorder following(true);
  EXPECT_TRUE(succeeded(TreeWalk(sides.run, sides.local, following).walk("a")));
  EXPECT_TRUE(following.entered.empty()) << following.entered.front();
  // Without the start directory known, only the loop guard holds the walk:
  // up and start both lead to top, whose own way back down to a is a loop.
  sides.run.localStartInode = 0;
  Recorder guarded(true);
  EXPECT_TRUE(succeeded(TreeWalk(sides.run, sides.local, guarded).walk("a")));
  std::sort(guarded.entered.begin(), guarded.entered.end());
  EXPECT_EQ(guarded.entered, (std::vector<std::string>{"./start", "./up"}));
  Recorder plain(false);
  EXPECT_TRUE(succeeded(TreeWalk(sides.run, sides.local, plain).walk("a")));
  EXPECT_TRUE(plain.entered.empty());
  EXPECT_FALSE(sides.run.lostInTree);
  ASSERT_TRUE(succeeded(sides.local.changeDirectory("..")));
}

// The latest failure is the one the walk hands back: a failed return beats
// the failure of the level it left.
TEST(TreeWalkStatus, AFailedReturnIsReportedAboveTheFailureItFollows) {
  TempTree tree;
  ScopedDirectory here{tree.path()};
  tree.mkdir("a/b");
  testing::RealSides sides;
  testing::FaultyLocalSide local(sides.local);
  tandrel::Run run(local, sides.server);
  local.listFault.arm("", 1);  // a lists, b does not
  local.listFault.failure = Status::system("List failed");
  local.changeDirectoryFault.arm("..", 1);  // b returns, a does not
  local.changeDirectoryFault.failure = Status::system("Return failed");
  Recorder visitor(false);
  EXPECT_EQ(TreeWalk(run, local, visitor).walk("a").text(), "Return failed\n");
  EXPECT_EQ(local.changeDirectoryFault.fired, 1);
  EXPECT_TRUE(run.lostInTree);
  ASSERT_TRUE(succeeded(sides.local.changeDirectory("..")));
}

}  // namespace
}  // namespace tandrel
