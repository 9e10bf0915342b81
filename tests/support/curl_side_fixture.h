// The fixture of the CurlServerSide tests: one real server of each kind,
// started once and shared by the tests of a kind, each test working in a
// directory of its own below the log-in directory; and the small sinks,
// sources and helpers those tests use.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "storage/file_time.h"
#include "storage/server_curl.h"
#include "support/ftp_server.h"
#include "support/status_check.h"
#include "support/suite_servers.h"

namespace tandrel::testing {

class StringSink : public ByteSink {
 public:
  Status write(const char* data, size_t length) override {
    bytes.append(data, length);
    return Status::OK();
  }
  std::string bytes;
};

class FailingSink : public ByteSink {
 public:
  Status write(const char*, size_t) override { return Status::system("No space left on device\n"); }
};

class StringSource : public ByteSource {
 public:
  explicit StringSource(std::string bytes) : bytes_(std::move(bytes)) {}
  Status read(char* buffer, size_t capacity, size_t& got) override {
    got = std::min(capacity, bytes_.size() - position_);
    bytes_.copy(buffer, got, position_);
    position_ += got;
    return Status::OK();
  }

 private:
  std::string bytes_;
  size_t position_ = 0;
};

class FailingSource : public ByteSource {
 public:
  Status read(char*, size_t, size_t&) override { return Status::system("Input/output error\n"); }
};

inline LogIn logInTo(const FtpServer& server, std::string password = "") {
  return LogIn{{"127.0.0.1", server.port(), Security::none},
               server.user(),
               password.empty() ? server.password() : password};
}

// The log-in directory as the server names it: pyftpdlib roots the user at a
// virtual "/", the others (without chroot) at the real path.
inline std::string serverRoot(const FtpServer& server) {
  return server.kind() == ServerKind::pyftpdlib ? "/" : server.root();
}

inline std::string childOf(const std::string& parent, const std::string& name) {
  return parent == "/" ? "/" + name : parent + "/" + name;
}

inline std::string testDirectoryName() {
  std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
  std::replace(name.begin(), name.end(), '/', '_');
  return name;
}

inline std::map<std::string, ListRecord> byName(const std::vector<ListRecord>& records) {
  std::map<std::string, ListRecord> map;
  for (const ListRecord& record : records) map[record.name] = record;
  return map;
}

inline std::string names(const std::vector<ListRecord>& records) {
  std::vector<std::string> sorted;
  for (const ListRecord& record : records) sorted.push_back("[" + record.name + "]");
  std::sort(sorted.begin(), sorted.end());
  std::string joined;
  for (const std::string& name : sorted) joined += name;
  return joined;
}

inline const int64_t kOldTime = daysFromCivil(2020, 1, 15) * 86400 + 12 * 3600 + 34 * 60 + 56;

class CurlServerSideTest : public ::testing::TestWithParam<ServerKind> {
 protected:
  static void TearDownTestSuite() { suiteServers<CurlServerSideTest>().clear(); }

  void SetUp() override {
    server_ = &suiteServer<CurlServerSideTest>(GetParam());
    ASSERT_TRUE(server_->started()) << server_->startError();
    directory_ = testDirectoryName();
    server_->tree().mkdir(directory_);
    ASSERT_TRUE(succeeded(side_.connect(logInTo(*server_))));
    ASSERT_TRUE(succeeded(side_.changeDirectory(directory_)));
  }

  void TearDown() override {
    side_.disconnect();
    if (HasFailure() && server_) std::cout << server_->name() << " log:\n" << server_->log();
  }

  // The test's directory as the server names it.
  std::string here() const { return childOf(serverRoot(*server_), directory_); }
  // Files of the test's directory, written and read on the server's disk.
  void put(const std::string& name, const std::string& content,
           std::optional<int64_t> mtime = std::nullopt) {
    server_->tree().write(directory_ + "/" + name, content, mtime);
  }
  void makeDirectory(const std::string& name) { server_->tree().mkdir(directory_ + "/" + name); }
  bool exists(const std::string& name) const {
    return server_->tree().exists(directory_ + "/" + name);
  }
  std::string read(const std::string& name) const {
    return server_->tree().read(directory_ + "/" + name);
  }
  void remove(const std::string& name) { server_->tree().remove(directory_ + "/" + name); }

  Status upload(const std::string& name, const std::string& content) {
    StringSource source(content);
    int64_t sent = -1;
    Status status = side_.upload(source, name, sent);
    if (status.ok()) {
      EXPECT_EQ(sent, static_cast<int64_t>(content.size()));
    }
    return status;
  }

  FtpServer* server_ = nullptr;
  std::string directory_;
  CurlServerSide side_;
};

}  // namespace tandrel::testing
