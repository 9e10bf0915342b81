// What the entry action tests share: helpers that describe entries and
// capture what an action prints, fault-injecting sides, and the fixture that
// runs actions against a real server of each kind.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "state/run_state.h"
#include "state/side_listing.h"
#include "storage/sides.h"
#include "support/faulty_sides.h"
#include "support/ftp_server.h"
#include "support/scoped_directory.h"
#include "support/status_check.h"
#include "support/suite_servers.h"
#include "support/temp_tree.h"
#include "support/test_run.h"
#include "sync/entry_actions.h"
#include "sync/upload_batch.h"

namespace tandrel::action_tests {

using testing::FaultyLocalSide;
using testing::FaultyServerSide;
using testing::FtpServer;
using testing::ScopedDirectory;
using testing::ServerKind;
using testing::TempTree;

template <typename Action>
std::string printed(Action action) {
  ::testing::internal::CaptureStdout();
  action();
  return ::testing::internal::GetCapturedStdout();
}

inline Entry* find(SideListing& listing, const std::string& name) {
  for (Entry& e : listing.entries())
    if (e.name == name) return &e;
  return nullptr;
}

// The other side's placeholder of an entry that is gone there.
inline std::unique_ptr<Entry> placeholder(const std::string& name, int isDirectory = 0) {
  auto entry = std::make_unique<Entry>();
  entry->name = name;
  entry->isDirectory = isDirectory;
  entry->state = EntryState::Deleted;
  return entry;
}

// "state touched" of an entry, for compact comparisons.
inline std::string stateText(EntryState state) { return std::to_string(static_cast<int>(state)); }
inline std::string recorded(const Entry* e) {
  return stateText(e->state) + " " + std::to_string(e->touched);
}
inline const std::string kDroppedTouched = stateText(EntryState::Dropped) + " 1";
inline const std::string kDroppedUntouched = stateText(EntryState::Dropped) + " 0";
inline const std::string kUnchangedUntouched = stateText(EntryState::Unchanged) + " 0";
inline const std::string kUnchangedTouched = stateText(EntryState::Unchanged) + " 1";
inline const std::string kNewTouched = stateText(EntryState::New) + " 1";
inline const std::string kChangedTouched = stateText(EntryState::Changed) + " 1";

// Fails an upload's source after `failAfter` bytes, like a file that cannot be
// read to its end.
class BreakingReadLocalSide : public FaultyLocalSide {
 public:
  using FaultyLocalSide::FaultyLocalSide;
  Status openForReading(const std::string& name, std::unique_ptr<ByteSource>& source,
                        int64_t& size) override {
    Status opened = FaultyLocalSide::openForReading(name, source, size);
    if (!opened.ok() || failAfter < 0) return opened;
    source = std::make_unique<Breaking>(std::move(source), failAfter);
    return opened;
  }
  int64_t failAfter = -1;

 private:
  class Breaking : public ByteSource {
   public:
    Breaking(std::unique_ptr<ByteSource> inner, int64_t budget)
        : inner_(std::move(inner)), budget_(budget) {}
    Status read(char* buffer, size_t capacity, size_t& got) override {
      if (budget_ <= 0) return Status::system("Input/output error");
      Status status =
          inner_->read(buffer, std::min<size_t>(capacity, static_cast<size_t>(budget_)), got);
      if (status.ok()) budget_ -= static_cast<int64_t>(got);
      return status;
    }

   private:
    std::unique_ptr<ByteSource> inner_;
    int64_t budget_;
  };
};

class CountingServerSide : public FaultyServerSide {
 public:
  using FaultyServerSide::FaultyServerSide;
  Status lookUp(const std::string& name, ListRecord& record) override {
    ++lookUps;
    return FaultyServerSide::lookUp(name, record);
  }
  int lookUps = 0;
};

// Actions with the local side in a temporary tree and the server side on a
// real server, one directory per test.

class ServerActionTest : public ::testing::TestWithParam<ServerKind> {
 protected:
  static void TearDownTestSuite() { testing::suiteServers<ServerActionTest>().clear(); }

  void SetUp() override {
    server = &testing::suiteServer<ServerActionTest>(GetParam());
    ASSERT_TRUE(server->started()) << server->startError();
    // Only now: the server process keeps the working directory it was started
    // in, and the local tree is gone after this test.
    here.emplace(local.path());
    directory = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::replace(directory.begin(), directory.end(), '/', '_');
    server->tree().mkdir(directory);
    ASSERT_TRUE(succeeded(openSession()));
    sessionOpen = true;
    LogIn logIn{{"127.0.0.1", server->port(), Security::none}, server->user(), server->password()};
    ASSERT_TRUE(succeeded(realServer.connect(logIn)));
    ASSERT_TRUE(succeeded(realServer.changeDirectory(directory))) << server->log();
  }

  void TearDown() override {
    if (sessionOpen) uploads.complete(run);
    serverListing.close();
    localListing.close();
    if (sessionOpen) closeSession(realServer);
  }

  void openListings() {
    ASSERT_TRUE(localListing.open(""));
    ASSERT_TRUE(serverListing.open(""));
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
    EXPECT_TRUE(succeeded(realServer.lookUp(name, record))) << name;
    return record.writeTime;
  }
  FileTime localTime(const std::string& name) {
    ListRecord record;
    EXPECT_TRUE(succeeded(realLocal.lookUp(name, record))) << name;
    return record.writeTime;
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
  UploadBatch uploads;
};

}  // namespace tandrel::action_tests
