// The whole-tree walks: local removal and the server-database purge on real
// temporary trees, server removal against real pyftpdlib and vsftpd servers.
// Failures come from fault-injecting wrappers around the real sides; the
// wrappers also count the returns to the parent and log the server's walk.
#include "sync/tree_removal.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "state/run_state.h"
#include "storage/sides.h"
#include "support/faulty_sides.h"
#include "support/ftp_server.h"
#include "support/scoped_directory.h"
#include "support/status_check.h"
#include "support/suite_servers.h"
#include "support/temp_tree.h"
#include "support/test_run.h"

namespace tandrel {
namespace {

using testing::FaultyLocalSide;
using testing::FaultyServerSide;
using testing::FtpServer;
using testing::ScopedDirectory;
using testing::ServerKind;
using testing::TempTree;

std::string workingDirectory() {
  char buffer[4096];
  return getcwd(buffer, sizeof buffer) != nullptr ? buffer : "";
}

std::string canonical(const std::string& path) { return std::filesystem::canonical(path).string(); }

template <typename Action>
std::string printed(Action action) {
  ::testing::internal::CaptureStdout();
  action();
  return ::testing::internal::GetCapturedStdout();
}

// ---- Local removal and purge -------------------------------------------------

class CountingLocalSide : public FaultyLocalSide {
 public:
  using FaultyLocalSide::FaultyLocalSide;
  Status changeDirectory(const std::string& name) override {
    if (name == "..") ++returns;
    return FaultyLocalSide::changeDirectory(name);
  }
  int returns = 0;
};

class LocalWalk : public ::testing::Test {
 protected:
  // After failed returns the real side is `levels` directories deeper than the
  // walk started; this takes it back up so its own record stays balanced.
  void climbBack(int levels) {
    for (int i = 0; i < levels; ++i) ASSERT_TRUE(succeeded(real.changeDirectory("..")));
    EXPECT_EQ(workingDirectory(), top);
  }

  TempTree tree;
  ScopedDirectory here{tree.path()};
  std::string top = canonical(tree.path());
  testing::RealSides sides;
  LocalSide& real = sides.local;
  CountingLocalSide side{real};
  tandrel::Run run{side, sides.server};
};

TEST_F(LocalWalk, RemovesTheWholeTreeAndComesBack) {
  tree.write("a/f", "1");
  tree.write("a/zztandrel.zzlocaldb", "db");
  tree.write("a/zztandrel.zzserverdb", "db");
  tree.write("a/b/g", "2");
  tree.mkdir("a/b/c");
  EXPECT_TRUE(succeeded(removeLocalTree(run, "a")));
  EXPECT_EQ(tree.snapshot(), "");
  EXPECT_EQ(workingDirectory(), top);
  EXPECT_EQ(side.returns, 3);
  EXPECT_FALSE(run.lostInTree);
}

TEST_F(LocalWalk, SymbolicLinksAreRemovedAsLinks) {
  TempTree outside;
  outside.write("target/keep", "k");
  outside.write("file", "f");
  tree.mkdir("a/b");
  ASSERT_EQ(symlink(outside.pathOf("target").c_str(), tree.pathOf("a/to-directory").c_str()), 0);
  ASSERT_EQ(symlink(outside.pathOf("file").c_str(), tree.pathOf("a/b/to-file").c_str()), 0);
  ASSERT_EQ(symlink("..", tree.pathOf("a/b/up").c_str()), 0);
  ASSERT_EQ(symlink("nowhere", tree.pathOf("a/dangling").c_str()), 0);
  EXPECT_TRUE(succeeded(removeLocalTree(run, "a")));
  EXPECT_EQ(tree.snapshot(), "");
  EXPECT_EQ(outside.snapshot(), "file:f\ntarget/\ntarget/keep:k\n");
  EXPECT_EQ(workingDirectory(), top);
}

TEST_F(LocalWalk, FailedDeleteStopsTheWalkAndRemovesNoDirectoryAbove) {
  tree.write("a/b/f", "1");
  side.deleteFault.arm("f");
  EXPECT_EQ(removeLocalTree(run, "a").text(), "Injected failure\n");
  EXPECT_EQ(side.deleteFault.fired, 1);
  EXPECT_EQ(tree.snapshot(), "a/\na/b/\na/b/f:1\n");
  EXPECT_EQ(workingDirectory(), top);
  EXPECT_FALSE(run.lostInTree);
}

TEST_F(LocalWalk, ListingThatEndsWithAnErrorFailsEveryLevel) {
  tree.write("a/b/f", "1");
  side.listFault.arm("", 1);  // a lists, b does not
  EXPECT_FALSE(removeLocalTree(run, "a").ok());
  EXPECT_EQ(side.listFault.fired, 1);
  EXPECT_EQ(tree.snapshot(), "a/\na/b/\na/b/f:1\n");
  EXPECT_EQ(workingDirectory(), top);
  EXPECT_EQ(side.returns, 2);
}

TEST_F(LocalWalk, DirectoryThatCannotBeEnteredIsLeftAloneWithoutAReturn) {
  tree.write("a/f", "1");
  side.changeDirectoryFault.arm("a");
  EXPECT_FALSE(removeLocalTree(run, "a").ok());
  EXPECT_EQ(side.returns, 0);
  EXPECT_EQ(tree.snapshot(), "a/\na/f:1\n");
  EXPECT_FALSE(run.lostInTree);
}

struct FailedReturn {
  int which;              // the failing ".." in walk order: 1 is the deepest
  std::string staysIn;    // where the working directory stays
  std::string remaining;  // what is left of the tree
};

void PrintTo(const FailedReturn& c, std::ostream* os) { *os << "return " << c.which; }

class LocalFailedReturn : public LocalWalk, public ::testing::WithParamInterface<FailedReturn> {};

TEST_P(LocalFailedReturn, SetsLostInTreeAndNoLevelAboveReturns) {
  const FailedReturn& c = GetParam();
  tree.write("a/b/c/f", "1");
  side.changeDirectoryFault.arm("..", c.which - 1, 1);
  // The failed return is what the walk reports: nothing was tried by name
  // from the directory the walk could not leave.
  EXPECT_EQ(removeLocalTree(run, "a").text(), "Injected failure\n");
  EXPECT_TRUE(run.lostInTree);
  EXPECT_EQ(side.returns, c.which);
  EXPECT_EQ(workingDirectory(), top + "/" + c.staysIn);
  EXPECT_EQ(tree.snapshot(), c.remaining);
  climbBack(4 - c.which);
}

INSTANTIATE_TEST_SUITE_P(Depths, LocalFailedReturn,
                         ::testing::Values(FailedReturn{1, "a/b/c", "a/\na/b/\na/b/c/\n"},
                                           FailedReturn{2, "a/b", "a/\na/b/\n"},
                                           FailedReturn{3, "a", "a/\n"}),
                         [](const auto& info) {
                           return "return" + std::to_string(info.param.which);
                         });

TEST_F(LocalWalk, RemovalMakesNoReturnOnceLost) {
  tree.write("a/b/f", "1");
  run.lostInTree = true;
  EXPECT_FALSE(removeLocalTree(run, "a").ok());
  EXPECT_EQ(side.returns, 0);
  EXPECT_EQ(workingDirectory(), top + "/a/b");
  EXPECT_EQ(tree.snapshot(), "a/\na/b/\n");
  climbBack(2);
}

TEST_F(LocalWalk, PurgeDeletesOnlyServerDatabasesAtEveryLevel) {
  for (const char* level : {"a/", "a/b/", "a/b/c/"}) {
    tree.write(std::string(level) + "zztandrel.zzserverdb", "s");
    tree.write(std::string(level) + "zztandrel.zzlocaldb", "l");
  }
  tree.write("a/f", "1");
  tree.write("a/b/zztandrel.zzserverdb.old", "kept");
  EXPECT_EQ(printed([&] { EXPECT_TRUE(succeeded(purgeServerDatabases(run, "a"))); }), "");
  EXPECT_EQ(tree.snapshot(),
            "a/\na/b/\na/b/c/\na/b/c/zztandrel.zzlocaldb:l\na/b/zztandrel.zzlocaldb:l\n"
            "a/b/zztandrel.zzserverdb.old:kept\na/f:1\na/zztandrel.zzlocaldb:l\n");
  EXPECT_EQ(workingDirectory(), top);
  EXPECT_EQ(side.returns, 3);
}

TEST_F(LocalWalk, PurgeStillReturnsToEveryParentOnceLost) {
  tree.write("a/b/zztandrel.zzserverdb", "s");
  run.lostInTree = true;
  EXPECT_TRUE(succeeded(purgeServerDatabases(run, "a")));
  EXPECT_EQ(side.returns, 2);
  EXPECT_EQ(workingDirectory(), top);
  EXPECT_TRUE(run.lostInTree);
  EXPECT_EQ(tree.snapshot(), "a/\na/b/\n");
}

TEST_F(LocalWalk, PurgeThatCannotDeleteADatabaseFailsSilently) {
  tree.write("a/b/zztandrel.zzserverdb", "s");
  side.deleteFault.arm("zztandrel.zzserverdb");
  EXPECT_EQ(printed([&] { EXPECT_FALSE(purgeServerDatabases(run, "a").ok()); }), "");
  EXPECT_EQ(side.deleteFault.fired, 1);
  EXPECT_TRUE(tree.exists("a/b/zztandrel.zzserverdb"));
  EXPECT_EQ(workingDirectory(), top);
  EXPECT_FALSE(run.lostInTree);
}

TEST_F(LocalWalk, PurgeHandsADirectoryNamedLikeTheDatabaseToTheFileDeletion) {
  tree.write("a/zztandrel.zzserverdb/inside", "1");
  EXPECT_EQ(printed([&] { EXPECT_FALSE(purgeServerDatabases(run, "a").ok()); }), "");
  EXPECT_EQ(tree.read("a/zztandrel.zzserverdb/inside"), "1");
  EXPECT_EQ(workingDirectory(), top);
}

TEST_F(LocalWalk, PurgeThatCannotEnterASubdirectorySaysSo) {
  tree.mkdir("a/b");
  side.changeDirectoryFault.arm("b");
  EXPECT_EQ(printed([&] { EXPECT_FALSE(purgeServerDatabases(run, "a").ok()); }),
            "Can't open 'b' dir on local to recursively delete server databases - Injected "
            "failure\n");
  EXPECT_EQ(workingDirectory(), top);
  EXPECT_FALSE(run.lostInTree);
}

TEST_F(LocalWalk, PurgeOfAMissingDirectorySaysSo) {
  EXPECT_EQ(printed([&] { EXPECT_FALSE(purgeServerDatabases(run, "missing").ok()); }),
            "Can't open 'missing' dir on local to recursively delete server databases - No such "
            "file or directory\n");
  EXPECT_EQ(side.returns, 0);
}

TEST_F(LocalWalk, PurgeWhoseReturnFailsSaysSoOnceAndSetsLostInTree) {
  tree.mkdir("a/b");
  side.changeDirectoryFault.arm("..", 0, 1);  // b cannot go back to a
  EXPECT_EQ(printed([&] { EXPECT_FALSE(purgeServerDatabases(run, "a").ok()); }),
            "Can't recursively delete server databases for 'b' directory on local - Injected "
            "failure\n");
  EXPECT_TRUE(run.lostInTree);
  EXPECT_EQ(side.returns, 2);
  // a's return undid the entry into b, so the walk ends one level too deep.
  EXPECT_EQ(workingDirectory(), top + "/a");
  climbBack(1);
}

// ---- Server removal ----------------------------------------------------------

// Logs the walk's requests in order: "cd NAME", "list NAME,NAME,...",
// "dele NAME", "rmd NAME".
class LoggingServerSide : public FaultyServerSide {
 public:
  using FaultyServerSide::FaultyServerSide;
  Status changeDirectory(const std::string& name) override {
    log.push_back("cd " + name);
    return FaultyServerSide::changeDirectory(name);
  }
  Status list(std::vector<ListRecord>& records) override {
    Status status = FaultyServerSide::list(records);
    std::string names;
    for (const ListRecord& record : records) names += (names.empty() ? "" : ",") + record.name;
    log.push_back("list " + names);
    return status;
  }
  Status deleteFile(const std::string& name) override {
    log.push_back("dele " + name);
    return FaultyServerSide::deleteFile(name);
  }
  Status removeDirectory(const std::string& name) override {
    log.push_back("rmd " + name);
    return FaultyServerSide::removeDirectory(name);
  }
  int returns() const { return static_cast<int>(std::count(log.begin(), log.end(), "cd ..")); }
  std::vector<std::string> log;
};

class ServerWalk : public ::testing::TestWithParam<ServerKind> {
 protected:
  static void TearDownTestSuite() { testing::suiteServers<ServerWalk>().clear(); }

  void SetUp() override {
    server = &testing::suiteServer<ServerWalk>(GetParam());
    ASSERT_TRUE(server->started()) << server->startError();
    directory = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::replace(directory.begin(), directory.end(), '/', '_');
    server->tree().mkdir(directory);
    ASSERT_TRUE(succeeded(openSession()));
    sessionOpen = true;
    LogIn logIn{{"127.0.0.1", server->port(), Security::none}, server->user(), server->password()};
    ASSERT_TRUE(succeeded(real.connect(logIn)));
    ASSERT_TRUE(succeeded(real.changeDirectory(directory)));
  }

  void TearDown() override {
    if (sessionOpen) closeSession(real);
  }

  // The test's directory as the server names it.
  std::string here() const {
    std::string root = GetParam() == ServerKind::pyftpdlib ? "" : server->root();
    return root + "/" + directory;
  }
  void write(const std::string& path, const std::string& content) {
    server->tree().write(directory + "/" + path, content);
  }
  void mkdir(const std::string& path) { server->tree().mkdir(directory + "/" + path); }
  std::string snapshot() const { return testing::snapshotTree(server->tree().pathOf(directory)); }

  FtpServer* server = nullptr;
  std::string directory;
  bool sessionOpen = false;
  testing::RealSides sides;
  ServerSide& real = sides.server;
  LoggingServerSide side{real};
  tandrel::Run run{sides.local, side};
};

INSTANTIATE_TEST_SUITE_P(Servers, ServerWalk, ::testing::ValuesIn(testing::allServerKinds()),
                         [](const auto& info) { return testing::serverKindName(info.param); });

TEST_P(ServerWalk, RemovesTheWholeTreeAndComesBack) {
  write("a/f", "1");
  write("a/b/g", "2");
  mkdir("a/b/c");
  mkdir("a/d");
  EXPECT_TRUE(succeeded(removeServerTree(run, "a")));
  EXPECT_EQ(snapshot(), "");
  EXPECT_EQ(real.currentDirectory(), here());
  EXPECT_EQ(side.returns(), 4);
  EXPECT_FALSE(run.lostInTree);
}

TEST_P(ServerWalk, RemovesAnEmptyDirectory) {
  mkdir("e");
  EXPECT_TRUE(succeeded(removeServerTree(run, "e")));
  EXPECT_EQ(snapshot(), "");
  EXPECT_EQ(side.log, (std::vector<std::string>{"cd e", "list ", "cd ..", "rmd e"}));
}

TEST_P(ServerWalk, DeletesFilesFirstThenSubdirectoriesLastListedFirst) {
  write("a/f", "1");
  mkdir("a/b");
  mkdir("a/d");
  ASSERT_TRUE(succeeded(removeServerTree(run, "a")));
  ASSERT_GE(side.log.size(), 2u);
  const std::string listing = side.log[1];
  if (GetParam() == ServerKind::vsftpd) {
    EXPECT_EQ(listing, "list b,d,f");  // sorted by the server
  }
  // The subdirectories in the reverse of the order the listing gave them.
  std::vector<std::string> later = listing.find("b") < listing.find("d")
                                       ? std::vector<std::string>{"d", "b"}
                                       : std::vector<std::string>{"b", "d"};
  std::vector<std::string> expected = {"cd a", listing, "dele f"};
  for (const std::string& name : later) {
    for (const std::string& step :
         {"cd " + name, std::string("list "), std::string("cd .."), "rmd " + name})
      expected.push_back(step);
  }
  expected.push_back("cd ..");
  expected.push_back("rmd a");
  EXPECT_EQ(side.log, expected);
}

TEST_P(ServerWalk, MissingDirectoryFailsWithoutAReturn) {
  EXPECT_FALSE(removeServerTree(run, "missing").ok());
  EXPECT_EQ(side.log, (std::vector<std::string>{"cd missing"}));
  EXPECT_EQ(real.currentDirectory(), here());
  EXPECT_FALSE(run.lostInTree);
}

TEST_P(ServerWalk, FailedDeleteStopsTheWalkAndRemovesNoDirectoryAbove) {
  write("a/b/f", "1");
  side.deleteFault.arm("f");
  EXPECT_FALSE(removeServerTree(run, "a").ok());
  EXPECT_EQ(side.deleteFault.fired, 1);
  EXPECT_EQ(snapshot(), "a/\na/b/\na/b/f:1\n");
  EXPECT_EQ(real.currentDirectory(), here());
  EXPECT_FALSE(run.lostInTree);
}

TEST_P(ServerWalk, ListingThatFailsFailsEveryLevel) {
  write("a/b/f", "1");
  side.listFault.arm("", 1);
  EXPECT_FALSE(removeServerTree(run, "a").ok());
  EXPECT_EQ(side.listFault.fired, 1);
  EXPECT_EQ(snapshot(), "a/\na/b/\na/b/f:1\n");
  EXPECT_EQ(real.currentDirectory(), here());
}

TEST_P(ServerWalk, FailedDeepReturnSetsLostInTreeAndNoLevelAboveReturns) {
  mkdir("a/b/c");
  side.changeDirectoryFault.arm("..", 0, 1);
  EXPECT_FALSE(removeServerTree(run, "a").ok());
  EXPECT_TRUE(run.lostInTree);
  EXPECT_EQ(side.returns(), 1);
  EXPECT_EQ(side.log.back(), "cd ..");  // no RMD from inside the directory
  EXPECT_EQ(real.currentDirectory(), here() + "/a/b/c");
  EXPECT_EQ(snapshot(), "a/\na/b/\na/b/c/\n");
}

TEST_P(ServerWalk, FailedMiddleReturnKeepsWhatWasRemovedBelow) {
  mkdir("a/b/c");
  side.changeDirectoryFault.arm("..", 1, 1);
  EXPECT_FALSE(removeServerTree(run, "a").ok());
  EXPECT_TRUE(run.lostInTree);
  EXPECT_EQ(side.returns(), 2);
  EXPECT_EQ(real.currentDirectory(), here() + "/a/b");
  EXPECT_EQ(snapshot(), "a/\na/b/\n");
}

TEST_P(ServerWalk, RemovalMakesNoReturnOnceLost) {
  mkdir("a/b");
  run.lostInTree = true;
  EXPECT_FALSE(removeServerTree(run, "a").ok());
  EXPECT_EQ(side.returns(), 0);
  EXPECT_EQ(real.currentDirectory(), here() + "/a/b");
}

TEST_P(ServerWalk, RefusedRemovalFailsTheLevelAbove) {
  mkdir("a/b");
  side.removeDirectoryFault.arm("b");
  EXPECT_FALSE(removeServerTree(run, "a").ok());
  EXPECT_EQ(snapshot(), "a/\na/b/\n");
  EXPECT_EQ(real.currentDirectory(), here());
  EXPECT_EQ(side.log.back(), "cd ..");
}

}  // namespace
}  // namespace tandrel
