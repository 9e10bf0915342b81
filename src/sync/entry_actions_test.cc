// The entry actions on real listings: the local side in a temporary tree, the
// server side on real pyftpdlib and vsftpd servers. Each test checks what is
// printed, what the sides hold afterwards and what is recorded on both
// entries. Failures come from fault-injecting wrappers or from the server's own
// refusals; questions are answered by standing answers or by keys from a pipe.
#include "sync/entry_actions.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "state/run_state.h"
#include "storage/failure.h"
#include "storage/reserved_names.h"
#include "storage/sides.h"
#include "support/faulty_sides.h"
#include "support/ftp_server.h"
#include "support/scoped_directory.h"
#include "support/scoped_keys.h"
#include "support/temp_tree.h"
#include "support/test_run.h"

namespace tandrel {
namespace {

using testing::FaultyLocalSide;
using testing::FaultyServerSide;
using testing::FtpServer;
using testing::ScopedDirectory;
using testing::ScopedKeys;
using testing::ServerKind;
using testing::TempTree;


template <typename Action>
std::string printed(Action action) {
  ::testing::internal::CaptureStdout();
  action();
  return ::testing::internal::GetCapturedStdout();
}

Entry* find(const SideListing& listing, const std::string& name) {
  for (Entry* e = listing.head; e != nullptr; e = e->next)
    if (e->name == name) return e;
  return nullptr;
}

// The other side's placeholder of an entry that is gone there.
std::unique_ptr<Entry> placeholder(const std::string& name, int isDirectory = 0) {
  auto entry = std::make_unique<Entry>();
  entry->name = name;
  entry->isDirectory = isDirectory;
  entry->state = Deleted;
  return entry;
}

// "state touched" of an entry, for compact comparisons.
std::string recorded(const Entry* e) {
  return std::to_string(e->state) + " " + std::to_string(e->touched);
}
const std::string kDroppedTouched = std::to_string(Dropped) + " 1";
const std::string kDroppedUntouched = std::to_string(Dropped) + " 0";
const std::string kUnchangedUntouched = std::to_string(Unchanged) + " 0";
const std::string kUnchangedTouched = std::to_string(Unchanged) + " 1";
const std::string kNewTouched = std::to_string(New) + " 1";
const std::string kChangedTouched = std::to_string(Changed) + " 1";

// Fails an upload's source after `failAfter` bytes, like a file that cannot be
// read to its end.
class BreakingReadLocalSide : public FaultyLocalSide {
 public:
  using FaultyLocalSide::FaultyLocalSide;
  std::unique_ptr<ByteSource> openForReading(const std::string& name, int64_t& size) override {
    std::unique_ptr<ByteSource> source = FaultyLocalSide::openForReading(name, size);
    if (!source || failAfter < 0) return source;
    return std::make_unique<Breaking>(std::move(source), failAfter);
  }
  int64_t failAfter = -1;

 private:
  class Breaking : public ByteSource {
   public:
    Breaking(std::unique_ptr<ByteSource> inner, int64_t budget)
        : inner_(std::move(inner)), budget_(budget) {}
    long read(char* buffer, size_t capacity) override {
      if (budget_ <= 0) {
        recordFailure(FailureKind::system, "Input/output error");
        return -1;
      }
      long got = inner_->read(buffer, std::min<size_t>(capacity, static_cast<size_t>(budget_)));
      if (got > 0) budget_ -= got;
      return got;
    }

   private:
    std::unique_ptr<ByteSource> inner_;
    int64_t budget_;
  };
};

class CountingServerSide : public FaultyServerSide {
 public:
  using FaultyServerSide::FaultyServerSide;
  bool lookUp(const std::string& name, ListRecord& record) override {
    ++lookUps;
    return FaultyServerSide::lookUp(name, record);
  }
  int lookUps = 0;
};

// ---- Local actions -----------------------------------------------------------

class LocalActions : public ::testing::Test {
 protected:
  void TearDown() override { listing.close(); }
  void openListing() { ASSERT_EQ(listing.open(""), 1); }

  TempTree tree;
  ScopedDirectory here{tree.path()};
  testing::RealSides sides;
  FaultyLocalSide localFaults{sides.local};
  tandrel::Run run{localFaults, sides.server};
  SideListing listing{run, true};
};

TEST_F(LocalActions, DeleteFileWithStandingAnswer) {
  tree.write("a", "1");
  openListing();
  Entry* target = find(listing, "a");
  target->state = Unchanged;
  auto counterpart = placeholder("a");
  run.always.deleteUnchangedFile = 1;
  EXPECT_EQ(printed([&] {
              EXPECT_EQ(deleteFile(run, listing, target, counterpart.get()), Outcome::done);
            }),
            "Deleting file 'a' on local\n");
  EXPECT_FALSE(tree.exists("a"));
  EXPECT_EQ(recorded(target), kDroppedTouched);
  EXPECT_EQ(recorded(counterpart.get()), kDroppedTouched);
}

TEST_F(LocalActions, DeleteOfAVanishedFileReportsTheSystemsText) {
  tree.write("a", "1");
  openListing();
  Entry* target = find(listing, "a");
  target->state = Unchanged;
  auto counterpart = placeholder("a");
  tree.remove("a");
  run.always.deleteUnchangedFile = 1;
  EXPECT_EQ(printed([&] {
              EXPECT_EQ(deleteFile(run, listing, target, counterpart.get()), Outcome::failed);
            }),
            "Deleting file 'a' on local\n"
            "Error: Can't delete local file 'a' - No such file or directory\n");
  EXPECT_EQ(recorded(target), kUnchangedUntouched);
  EXPECT_EQ(recorded(counterpart.get()), kUnchangedUntouched);
}

TEST_F(LocalActions, DeleteAnsweredNoKeepsTheFileAndRecordsAFailure) {
  tree.write("a", "1");
  openListing();
  Entry* target = find(listing, "a");  // New
  auto counterpart = placeholder("a");
  ScopedKeys keys("n");
  EXPECT_EQ(printed([&] {
              EXPECT_EQ(deleteFile(run, listing, target, counterpart.get()), Outcome::declined);
            }),
            "File 'a' is new or updated on local, do you still want to delete? "
            "Y(es)/N(o)/A(lways):n\n");
  EXPECT_TRUE(tree.exists("a"));
  EXPECT_EQ(recorded(target), kDroppedUntouched);
  EXPECT_EQ(recorded(counterpart.get()), kUnchangedUntouched);
}

TEST_F(LocalActions, DeleteStandingAnswersAreIndependent) {
  tree.write("a", "1");
  tree.write("b", "1");
  openListing();
  Entry* changed = find(listing, "a");
  changed->state = Changed;
  Entry* unchanged = find(listing, "b");
  unchanged->state = Unchanged;
  auto counterpartA = placeholder("a");
  auto counterpartB = placeholder("b");
  run.always.deleteUnchangedFile = 1;
  ScopedKeys keys("A");
  EXPECT_EQ(printed([&] {
              EXPECT_EQ(deleteFile(run, listing, changed, counterpartA.get()), Outcome::done);
              EXPECT_EQ(deleteFile(run, listing, unchanged, counterpartB.get()), Outcome::done);
            }),
            "File 'a' is new or updated on local, do you still want to delete? "
            "Y(es)/N(o)/A(lways):A\nDeleting file 'a' on local\nDeleting file 'b' on local\n");
  EXPECT_EQ(run.always.deleteUpdatedFile, 1);
  EXPECT_EQ(tree.snapshot({.skipToolFiles = true}), "");
}

TEST_F(LocalActions, DeleteDirectoryRemovesTheTree) {
  tree.write("d/x", "1");
  tree.write("d/e/y", "2");
  openListing();
  Entry* target = find(listing, "d");
  target->state = Unchanged;
  auto counterpart = placeholder("d", 1);
  run.always.deleteDirectory = 1;
  EXPECT_EQ(printed([&] {
              EXPECT_EQ(deleteDirectory(run, listing, target, counterpart.get()), Outcome::done);
            }),
            "Deleting directory 'd' on local\n");
  EXPECT_FALSE(tree.exists("d"));
  EXPECT_EQ(recorded(target), kDroppedTouched);
  EXPECT_EQ(recorded(counterpart.get()), kDroppedTouched);
}

TEST_F(LocalActions, DeleteDirectoryThatFailsHalfwayReportsOnceAndRecordsAFailure) {
  tree.write("d/x", "1");
  openListing();
  Entry* target = find(listing, "d");
  target->state = Unchanged;
  auto counterpart = placeholder("d", 1);
  run.always.deleteDirectory = 1;
  localFaults.deleteFault.arm("x");
  EXPECT_EQ(printed([&] {
              EXPECT_EQ(deleteDirectory(run, listing, target, counterpart.get()), Outcome::failed);
            }),
            "Deleting directory 'd' on local\n"
            "Error: Can't delete local directory 'd' - Injected failure\n");
  EXPECT_EQ(tree.read("d/x"), "1");
  EXPECT_EQ(recorded(target), kUnchangedUntouched);
  EXPECT_EQ(recorded(counterpart.get()), kUnchangedUntouched);
}

TEST_F(LocalActions, DeleteDirectoryAnsweredRecreateChangesNothing) {
  tree.write("d/x", "1");
  openListing();
  Entry* target = find(listing, "d");
  target->state = Unchanged;
  auto counterpart = placeholder("d", 1);
  ScopedKeys keys("r");
  EXPECT_EQ(printed([&] {
              EXPECT_EQ(deleteDirectory(run, listing, target, counterpart.get()),
                        Outcome::recreate);
            }),
            "Do you want to delete directory 'd' on local?\n"
            "Y(es)/N(o)/A(lways delete)/R(ecreate on 'server')/(always re)C(reate):r\n");
  EXPECT_EQ(run.always.recreateDirectory, 0);
  EXPECT_EQ(tree.read("d/x"), "1");
  EXPECT_EQ(recorded(target), std::to_string(Unchanged) + " 0");
  EXPECT_EQ(counterpart->state, Deleted);
  EXPECT_EQ(counterpart->touched, 0);
}

TEST_F(LocalActions, DeleteDirectoryAnsweredNoRecordsAFailure) {
  tree.write("d/x", "1");
  openListing();
  Entry* target = find(listing, "d");
  target->state = Unchanged;
  auto counterpart = placeholder("d", 1);
  ScopedKeys keys("N");
  EXPECT_EQ(printed([&] {
              EXPECT_EQ(deleteDirectory(run, listing, target, counterpart.get()),
                        Outcome::declined);
            }),
            "Do you want to delete directory 'd' on local?\n"
            "Y(es)/N(o)/A(lways delete)/R(ecreate on 'server')/(always re)C(reate):N\n");
  EXPECT_EQ(tree.read("d/x"), "1");
  EXPECT_EQ(recorded(target), kUnchangedUntouched);
  EXPECT_EQ(recorded(counterpart.get()), kUnchangedUntouched);
}

TEST_F(LocalActions, DeleteDirectoryWithStandingRecreateAsksNothing) {
  tree.mkdir("d");
  openListing();
  Entry* target = find(listing, "d");
  auto counterpart = placeholder("d", 1);
  run.always.recreateDirectory = 1;
  EXPECT_EQ(printed([&] {
              EXPECT_EQ(deleteDirectory(run, listing, target, counterpart.get()),
                        Outcome::recreate);
            }),
            "");
  EXPECT_EQ(recorded(target), std::to_string(New) + " 0");
  EXPECT_EQ(counterpart->state, Deleted);
}

TEST_F(LocalActions, PurgeForRecreateCommitsNothingOnSuccess) {
  tree.write("d/zztandrel.zzserverdb", "s");
  tree.write("d/e/zztandrel.zzserverdb", "s");
  openListing();
  Entry* target = find(listing, "d");
  target->state = Unchanged;
  auto counterpart = placeholder("d", 1);
  EXPECT_EQ(printed([&] {
              EXPECT_EQ(purgeForRecreate(run, listing, target, counterpart.get()), Outcome::done);
            }),
            "");
  EXPECT_EQ(tree.snapshot(), "d/\nd/e/\n");
  EXPECT_EQ(recorded(target), kUnchangedUntouched);
  EXPECT_EQ(counterpart->state, Deleted);
}

TEST_F(LocalActions, PurgeForRecreateThatFailsRecordsAFailure) {
  tree.write("d/zztandrel.zzserverdb", "s");
  openListing();
  Entry* target = find(listing, "d");  // New
  auto counterpart = placeholder("d", 1);
  localFaults.deleteFault.arm("zztandrel.zzserverdb");
  EXPECT_EQ(printed([&] {
              EXPECT_EQ(purgeForRecreate(run, listing, target, counterpart.get()), Outcome::failed);
            }),
            "");
  EXPECT_EQ(recorded(target), kDroppedUntouched);
  EXPECT_EQ(recorded(counterpart.get()), kUnchangedUntouched);
}

TEST_F(LocalActions, RefreshTimeReadsTheLocalFile) {
  tree.write("a", "1", 1'000'000'000);
  Entry entry;
  entry.name = "a";
  EXPECT_TRUE(refreshTime(run, entry, true));
  EXPECT_EQ(entry.writeTime, 116444736000000000ULL + 1'000'000'000ULL * 10'000'000ULL);
  Entry missing;
  missing.name = "missing";
  missing.writeTime = 77;
  EXPECT_FALSE(refreshTime(run, missing, true));
  EXPECT_EQ(missing.writeTime, 77u);
}

// ---- Actions against a server ------------------------------------------------

class ServerActions : public ::testing::TestWithParam<ServerKind> {
 protected:
  static void TearDownTestSuite() { servers().clear(); }

  void SetUp() override {
    std::unique_ptr<FtpServer>& slot = servers()[GetParam()];
    if (!slot) slot = std::make_unique<FtpServer>(GetParam());
    server = slot.get();
    ASSERT_TRUE(server->started()) << server->startError();
    // Only now: the server process keeps the working directory it was started
    // in, and the local tree is gone after this test.
    here.emplace(local.path());
    directory = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::replace(directory.begin(), directory.end(), '/', '_');
    server->tree().mkdir(directory);
    ASSERT_TRUE(openSession());
    sessionOpen = true;
    LogIn logIn{{"127.0.0.1", server->port(), Security::none}, server->user(), server->password()};
    ASSERT_TRUE(realServer.connect(logIn)) << lastFailure().text;
    ASSERT_TRUE(realServer.changeDirectory(directory)) << lastFailure().text << server->log();
  }

  void TearDown() override {
    if (sessionOpen) completeServerRefreshes(run);
    serverListing.close();
    localListing.close();
    if (sessionOpen) closeSession(realServer);
  }

  void openListings() {
    ASSERT_EQ(localListing.open(""), 1);
    ASSERT_EQ(serverListing.open(""), 1);
  }
  void put(const std::string& path, const std::string& content) {
    server->tree().write(directory + "/" + path, content);
  }
  std::string read(const std::string& path) const {
    return server->tree().read(directory + "/" + path);
  }
  bool exists(const std::string& path) const {
    return server->tree().exists(directory + "/" + path);
  }
  void remove(const std::string& path) { server->tree().remove(directory + "/" + path); }
  FileTime serverTime(const std::string& name) {
    ListRecord record;
    EXPECT_TRUE(realServer.lookUp(name, record)) << name;
    return record.writeTime;
  }
  FileTime localTime(const std::string& name) {
    ListRecord record;
    EXPECT_TRUE(realLocal.lookUp(name, record)) << name;
    return record.writeTime;
  }

  static std::map<ServerKind, std::unique_ptr<FtpServer>>& servers() {
    static std::map<ServerKind, std::unique_ptr<FtpServer>> running;
    return running;
  }

  FtpServer* server = nullptr;
  std::string directory;
  bool sessionOpen = false;
  TempTree local;
  std::optional<ScopedDirectory> here;
  testing::RealSides sides;
  LocalSide& realLocal = sides.local;
  ServerSide& realServer = sides.server;
  BreakingReadLocalSide localFaults{realLocal};
  CountingServerSide serverFaults{realServer};
  tandrel::Run run{localFaults, serverFaults};
  SideListing localListing{run, true};
  SideListing serverListing{run, false};
};

INSTANTIATE_TEST_SUITE_P(Servers, ServerActions, ::testing::ValuesIn(testing::allServerKinds()),
                         [](const auto& info) { return testing::serverKindName(info.param); });

TEST_P(ServerActions, CreateFromTheServerCopiesAndRecordsBothTimes) {
  put("a", "from the server");
  openListings();
  Entry* source = find(serverListing, "a");
  Entry* before = localListing.head;
  EXPECT_EQ(printed([&] {
              EXPECT_EQ(createFrom(run, localListing, nullptr, source), Outcome::done);
              completeServerRefreshes(run);
            }),
            "Creating file 'a' on local\n");
  EXPECT_EQ(local.read("a"), "from the server");
  EXPECT_FALSE(local.exists(temporaryName()));
  Entry* created = localListing.head;
  ASSERT_NE(created, before);
  EXPECT_EQ(created->name, "a");
  EXPECT_EQ(*localListing.cursor, before) << "the entry at the cursor stays current";
  EXPECT_EQ(recorded(created), kNewTouched);
  EXPECT_EQ(created->writeTime, localTime("a"));
  EXPECT_EQ(recorded(source), kNewTouched);
  EXPECT_EQ(source->writeTime, serverTime("a"));
}

TEST_P(ServerActions, CreateFromTheLocalSidePutsAndRecordsBothTimes) {
  local.write("a", "from the local side");
  openListings();
  Entry* source = find(localListing, "a");
  EXPECT_EQ(printed([&] {
              EXPECT_EQ(createFrom(run, serverListing, nullptr, source), Outcome::done);
              completeServerRefreshes(run);
            }),
            "Creating file 'a' on server\n");
  EXPECT_EQ(read("a"), "from the local side");
  EXPECT_FALSE(exists(temporaryName()));
  Entry* created = find(serverListing, "a");
  ASSERT_NE(created, nullptr);
  EXPECT_EQ(recorded(created), kNewTouched);
  EXPECT_NE(created->writeTime, 0u);
  EXPECT_EQ(created->writeTime, serverTime("a"));
  EXPECT_EQ(recorded(source), kNewTouched);
  EXPECT_EQ(source->writeTime, localTime("a"));
}

TEST_P(ServerActions, CreateFromOverAPlaceholderDropsIt) {
  local.write("a", "again");
  openListings();
  Entry* source = find(localListing, "a");
  source->state = Changed;
  Entry* existing = placeholder("a").release();
  serverListing.insertSorted(existing);
  EXPECT_EQ(
      printed([&] { EXPECT_EQ(createFrom(run, serverListing, existing, source), Outcome::done); }),
      "Creating file 'a' on server\n");
  EXPECT_EQ(recorded(existing), kDroppedTouched);
  EXPECT_EQ(recorded(source), kChangedTouched);
  EXPECT_EQ(read("a"), "again");
}

TEST_P(ServerActions, FailedPutInCreateFromAddsNoEntryAndDropsTheNewSource) {
  local.write("a", "1");
  openListings();
  Entry* source = find(localListing, "a");
  Entry* existing = placeholder("a").release();
  serverListing.insertSorted(existing);
  serverFaults.uploadFault.arm("a");
  EXPECT_EQ(
      printed(
          [&] { EXPECT_EQ(createFrom(run, serverListing, existing, source), Outcome::failed); }),
      "Creating file 'a' on server\nError: Can't update server file 'a' - Injected failure\n");
  EXPECT_EQ(serverListing.head, existing);
  EXPECT_EQ(existing->next, nullptr);
  EXPECT_EQ(recorded(existing), kUnchangedUntouched);
  EXPECT_EQ(recorded(source), kDroppedUntouched);
  EXPECT_FALSE(exists("a"));
}

TEST_P(ServerActions, UpdateAnnouncesAndRecordsBoth) {
  local.write("a", "new local copy");
  put("a", "old server copy");
  openListings();
  Entry* target = find(serverListing, "a");
  target->state = Unchanged;
  Entry* source = find(localListing, "a");
  source->state = Changed;
  EXPECT_EQ(printed([&] {
              EXPECT_EQ(updateFile(run, serverListing, target, source, Confirm::no, Announce::line),
                        Outcome::done);
              completeServerRefreshes(run);
            }),
            "Updating file 'a' on server\n");
  EXPECT_EQ(read("a"), "new local copy");
  EXPECT_EQ(recorded(target), kUnchangedTouched);
  EXPECT_EQ(recorded(source), kChangedTouched);
  EXPECT_EQ(target->writeTime, serverTime("a"));
}

TEST_P(ServerActions, UpdateWithoutAnnounceAndWithStandingAnswerPrintsNothing) {
  local.write("a", "local");
  put("a", "server");
  openListings();
  run.always.overwrite = 1;
  EXPECT_EQ(printed([&] {
              EXPECT_EQ(updateFile(run, localListing, find(localListing, "a"),
                                   find(serverListing, "a"), Confirm::ask, Announce::no),
                        Outcome::done);
            }),
            "");
  EXPECT_EQ(local.read("a"), "server");
}

TEST_P(ServerActions, OverwriteOfNewFilesAnsweredNoDropsBoth) {
  local.write("a", "local");
  put("a", "server");
  openListings();
  Entry* target = find(serverListing, "a");
  Entry* source = find(localListing, "a");
  ScopedKeys keys("n");
  EXPECT_EQ(printed([&] {
              EXPECT_EQ(
                  updateFile(run, serverListing, target, source, Confirm::ask, Announce::line),
                  Outcome::declined);
            }),
            "File 'a' exists on server, do you want to overwrite? Y(es)/N(o)/A(lways):n\n");
  EXPECT_EQ(read("a"), "server");
  EXPECT_EQ(recorded(target), kDroppedUntouched);
  EXPECT_EQ(recorded(source), kDroppedUntouched);
}

TEST_P(ServerActions, OverwriteOfChangedFilesAnsweredNoKeepsTheRecordedTimes) {
  local.write("a", "local");
  put("a", "server");
  openListings();
  Entry* target = find(localListing, "a");
  target->state = Changed;
  target->writeTime = 1111;
  Entry* source = find(serverListing, "a");
  source->state = Changed;
  source->writeTime = 2222;
  ScopedKeys keys("N");
  EXPECT_EQ(printed([&] {
              EXPECT_EQ(updateFile(run, localListing, target, source, Confirm::ask, Announce::line),
                        Outcome::declined);
            }),
            "File 'a' on local is changed, do you want to overwrite? Y(es)/N(o)/A(lways):N\n");
  EXPECT_EQ(local.read("a"), "local");
  EXPECT_EQ(recorded(target), kUnchangedUntouched);
  EXPECT_EQ(recorded(source), kUnchangedUntouched);
  EXPECT_EQ(target->writeTime, 1111u);
  EXPECT_EQ(source->writeTime, 2222u);
}

TEST_P(ServerActions, OverwriteAnsweredAlwaysSetsTheStandingAnswer) {
  local.write("a", "local");
  put("a", "server");
  openListings();
  ScopedKeys keys("a");
  EXPECT_EQ(printed([&] {
              EXPECT_EQ(updateFile(run, serverListing, find(serverListing, "a"),
                                   find(localListing, "a"), Confirm::ask, Announce::line),
                        Outcome::done);
            }),
            "File 'a' exists on server, do you want to overwrite? Y(es)/N(o)/A(lways):a\n"
            "Updating file 'a' on server\n");
  EXPECT_EQ(run.always.overwrite, 1);
  EXPECT_EQ(read("a"), "local");
}

TEST_P(ServerActions, BrokenDownloadKeepsTheOldLocalCopy) {
  local.write("a", "old local copy");
  put("a", std::string(256 * 1024, 'n'));
  openListings();
  Entry* target = find(localListing, "a");
  target->state = Unchanged;
  target->writeTime = 1111;
  Entry* source = find(serverListing, "a");
  source->state = Changed;
  serverFaults.brokenDownloadFault.arm("a");
  serverFaults.brokenDownloadAfterBytes = 1000;
  std::string output = printed([&] {
    EXPECT_EQ(updateFile(run, localListing, target, source, Confirm::no, Announce::line),
              Outcome::failed);
  });
  EXPECT_TRUE(
      output.starts_with("Updating file 'a' on local\nError: Can't update local file 'a' - "))
      << output;
  EXPECT_EQ(std::count(output.begin(), output.end(), '\n'), 2) << output;
  EXPECT_EQ(serverFaults.brokenDownloadFault.fired, 1);
  EXPECT_EQ(local.read("a"), "old local copy");
  EXPECT_FALSE(local.exists(temporaryName()));
  EXPECT_EQ(recorded(target), kUnchangedUntouched);
  EXPECT_EQ(target->writeTime, 1111u);
  EXPECT_EQ(recorded(source), kUnchangedUntouched);
}

TEST_P(ServerActions, ShortWriteKeepsTheOldLocalCopy) {
  local.write("a", "old local copy");
  put("a", std::string(256 * 1024, 'n'));
  openListings();
  Entry* target = find(localListing, "a");
  Entry* source = find(serverListing, "a");
  localFaults.shortWriteFault.arm();
  localFaults.shortWriteAfterBytes = 1000;
  EXPECT_EQ(printed([&] {
              EXPECT_EQ(updateFile(run, localListing, target, source, Confirm::no, Announce::line),
                        Outcome::failed);
            }),
            "Updating file 'a' on local\nError: Can't update local file 'a' - Injected failure\n");
  EXPECT_EQ(localFaults.shortWriteFault.fired, 1);
  EXPECT_EQ(local.read("a"), "old local copy");
  EXPECT_FALSE(local.exists(temporaryName()));
  EXPECT_EQ(recorded(target), kDroppedUntouched);
  EXPECT_EQ(recorded(source), kDroppedUntouched);
}

TEST_P(ServerActions, DownloadOfADifferentSizeThanListedFails) {
  local.write("a", "old local copy");
  put("a", "12345");
  openListings();
  put("a", "123");  // changed on the server after it was listed
  EXPECT_EQ(printed([&] {
              EXPECT_EQ(updateFile(run, localListing, find(localListing, "a"),
                                   find(serverListing, "a"), Confirm::no, Announce::line),
                        Outcome::failed);
            }),
            "Updating file 'a' on local\n"
            "Error: Can't update local file 'a' - The file changed while it was copied\n");
  EXPECT_EQ(local.read("a"), "old local copy");
  EXPECT_FALSE(local.exists(temporaryName()));
}

TEST_P(ServerActions, UploadBrokenHalfwayKeepsTheOldServerCopy) {
  local.write("a", std::string(256 * 1024, 'l'));
  put("a", "old server copy");
  openListings();
  localFaults.failAfter = 100 * 1024;
  std::string output = printed([&] {
    EXPECT_EQ(updateFile(run, serverListing, find(serverListing, "a"), find(localListing, "a"),
                         Confirm::no, Announce::line),
              Outcome::failed);
  });
  EXPECT_TRUE(
      output.starts_with("Updating file 'a' on server\nError: Can't update server file 'a' - "))
      << output;
  EXPECT_EQ(read("a"), "old server copy");
  EXPECT_FALSE(exists(temporaryName()));
}

TEST_P(ServerActions, UploadThatCannotReadItsFirstByteLeavesNoTemporaryFile) {
  local.write("a", "local");
  put("a", "old server copy");
  openListings();
  localFaults.failAfter = 0;
  EXPECT_EQ(printed([&] {
              EXPECT_EQ(updateFile(run, serverListing, find(serverListing, "a"),
                                   find(localListing, "a"), Confirm::no, Announce::no),
                        Outcome::failed);
            }),
            "Error: Can't update server file 'a' - Input/output error\n");
  EXPECT_EQ(read("a"), "old server copy");
  EXPECT_FALSE(exists(temporaryName()));
}

TEST_P(ServerActions, DeleteOfAVanishedServerFileReportsTheServersReply) {
  put("x", "1");
  openListings();
  Entry* target = find(serverListing, "x");
  target->state = Unchanged;
  auto counterpart = placeholder("x");
  remove("x");
  run.always.deleteUnchangedFile = 1;
  std::string output = printed([&] {
    EXPECT_EQ(deleteFile(run, serverListing, target, counterpart.get()), Outcome::failed);
  });
  const std::string start = "Deleting file 'x' on server\nError: Can't delete server file 'x' - ";
  if (GetParam() == ServerKind::pyftpdlib) {
    EXPECT_EQ(output, start + "550 No such file or directory.\n");
  } else if (GetParam() == ServerKind::vsftpd) {
    EXPECT_EQ(output, start + "550 Delete operation failed.\n");
  } else {
    EXPECT_TRUE(output.starts_with(start + "550 ")) << output;
    EXPECT_EQ(std::count(output.begin(), output.end(), '\n'), 2) << output;
  }
  EXPECT_EQ(recorded(target), kUnchangedUntouched);
  EXPECT_EQ(recorded(counterpart.get()), kUnchangedUntouched);
}

TEST_P(ServerActions, DeleteServerFileWithStandingAnswer) {
  put("x", "1");
  openListings();
  Entry* target = find(serverListing, "x");
  auto counterpart = placeholder("x");
  run.always.deleteUpdatedFile = 1;
  EXPECT_EQ(printed([&] {
              EXPECT_EQ(deleteFile(run, serverListing, target, counterpart.get()), Outcome::done);
            }),
            "Deleting file 'x' on server\n");
  EXPECT_FALSE(exists("x"));
  EXPECT_EQ(recorded(target), kDroppedTouched);
  EXPECT_EQ(recorded(counterpart.get()), kDroppedTouched);
}

TEST_P(ServerActions, CreateDirectoryWithStandingAnswerInsertsAtTheCursor) {
  local.mkdir("d");
  openListings();
  Entry* source = find(localListing, "d");
  run.always.createDirectory = 1;
  EXPECT_EQ(printed([&] {
              EXPECT_EQ(createDirectory(run, serverListing, nullptr, source, Confirm::ask),
                        Outcome::done);
            }),
            "");
  EXPECT_TRUE(server->tree().isDirectory(directory + "/d"));
  ASSERT_NE(serverListing.head, nullptr);
  EXPECT_EQ(serverListing.head->name, "d");
  EXPECT_EQ(serverListing.head->isDirectory, 1);
  EXPECT_EQ(recorded(serverListing.head), kNewTouched);
  EXPECT_EQ(*serverListing.cursor, nullptr);
  EXPECT_EQ(recorded(source), kNewTouched);
}

TEST_P(ServerActions, CreateDirectoryAnsweredNoCreatesNothing) {
  local.mkdir("d");
  openListings();
  Entry* source = find(localListing, "d");
  ScopedKeys keys("n");
  EXPECT_EQ(printed([&] {
              EXPECT_EQ(createDirectory(run, serverListing, nullptr, source, Confirm::ask),
                        Outcome::declined);
            }),
            "Server directory 'd' does not exists, do you want to create? Y(es)/N(o)/A(lways):n\n");
  EXPECT_FALSE(exists("d"));
  EXPECT_EQ(serverListing.head, nullptr);
  EXPECT_EQ(recorded(source), kDroppedUntouched);
}

TEST_P(ServerActions, CreateDirectoryOverAPlaceholderInsertsNothing) {
  put("d/x", "1");
  openListings();
  Entry* source = find(serverListing, "d");
  source->state = Unchanged;
  Entry* existing = placeholder("d", 1).release();
  localListing.insertSorted(existing);
  EXPECT_EQ(printed([&] {
              EXPECT_EQ(createDirectory(run, localListing, existing, source, Confirm::no),
                        Outcome::done);
            }),
            "");
  EXPECT_TRUE(local.isDirectory("d"));
  EXPECT_EQ(localListing.head, existing);
  EXPECT_EQ(existing->next, nullptr);
  EXPECT_EQ(recorded(existing), kNewTouched);
  EXPECT_EQ(existing->writeTime, 0u);
  EXPECT_EQ(recorded(source), kUnchangedTouched);
}

TEST_P(ServerActions, CreateDirectoryRefusedByTheServerReportsItsReply) {
  local.mkdir("d");
  put("d", "a file of that name");
  openListings();
  Entry* source = find(localListing, "d");
  std::string output = printed([&] {
    EXPECT_EQ(createDirectory(run, serverListing, nullptr, source, Confirm::no), Outcome::failed);
  });
  EXPECT_TRUE(output.starts_with("Error: Can't create server directory 'd' - 550 ")) << output;
  EXPECT_EQ(std::count(output.begin(), output.end(), '\n'), 1) << output;
  EXPECT_EQ(recorded(source), kDroppedUntouched);
  EXPECT_EQ(find(serverListing, "d")->isDirectory, 0) << "no directory entry was added";
}

TEST_P(ServerActions, CreateLocalDirectoryOverAFileFails) {
  local.write("d", "a file of that name");
  put("d/x", "1");
  openListings();
  Entry* source = find(serverListing, "d");
  EXPECT_EQ(printed([&] {
              EXPECT_EQ(createDirectory(run, localListing, nullptr, source, Confirm::no),
                        Outcome::failed);
            }),
            "Error: Can't create local directory 'd' - File exists\n");
  EXPECT_EQ(recorded(source), kDroppedUntouched);
}

TEST_P(ServerActions, DeleteServerDirectoryRemovesTheTree) {
  put("d/x", "1");
  put("d/e/y", "2");
  openListings();
  Entry* target = find(serverListing, "d");
  target->state = Unchanged;
  auto counterpart = placeholder("d", 1);
  run.always.deleteDirectory = 1;
  EXPECT_EQ(printed([&] {
              EXPECT_EQ(deleteDirectory(run, serverListing, target, counterpart.get()),
                        Outcome::done);
            }),
            "Deleting directory 'd' on server\n");
  EXPECT_FALSE(exists("d"));
  EXPECT_EQ(recorded(target), kDroppedTouched);
  EXPECT_EQ(recorded(counterpart.get()), kDroppedTouched);
  EXPECT_EQ(realServer.currentDirectory().ends_with("/" + directory), true);
}

TEST_P(ServerActions, DeleteServerDirectoryThatFailsReportsOnce) {
  put("d/x", "1");
  openListings();
  Entry* target = find(serverListing, "d");
  target->state = Unchanged;
  auto counterpart = placeholder("d", 1);
  run.always.deleteDirectory = 1;
  serverFaults.deleteFault.arm("x");
  EXPECT_EQ(printed([&] {
              EXPECT_EQ(deleteDirectory(run, serverListing, target, counterpart.get()),
                        Outcome::failed);
            }),
            "Deleting directory 'd' on server\n"
            "Error: Can't delete server directory 'd' - Injected failure\n");
  EXPECT_EQ(read("d/x"), "1");
  EXPECT_EQ(recorded(target), kUnchangedUntouched);
  EXPECT_EQ(recorded(counterpart.get()), kUnchangedUntouched);
}

TEST_P(ServerActions, RefreshOfAMissingServerFileTriesTenTimes) {
  openListings();
  Entry entry;
  entry.name = "missing";
  entry.writeTime = 77;
  EXPECT_FALSE(refreshTime(run, entry, false));
  EXPECT_EQ(serverFaults.lookUps, 10);
  EXPECT_EQ(entry.writeTime, 77u);
}

TEST_P(ServerActions, RefreshOfAServerFileTakesTheListedTime) {
  put("a", "1");
  openListings();
  Entry entry;
  entry.name = "a";
  EXPECT_TRUE(refreshTime(run, entry, false));
  EXPECT_EQ(entry.writeTime, find(serverListing, "a")->writeTime);
  EXPECT_NE(entry.writeTime, 0u);
}

}  // namespace
}  // namespace tandrel
