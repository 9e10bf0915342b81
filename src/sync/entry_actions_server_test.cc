// The entry actions that delete files and create or delete directories on real
// servers of each kind, and report the server's own refusals.
#include <gtest/gtest.h>

#include <string>

#include "storage/reserved_names.h"
#include "support/scoped_keys.h"
#include "sync/entry_actions.h"
#include "sync/entry_actions_fixture.h"

namespace tandrel {
namespace {

using enum EntryState;

using namespace action_tests;
using testing::ScopedKeys;

class ServerActions : public ServerActionTest {};

INSTANTIATE_TEST_SUITE_P(Servers, ServerActions, ::testing::ValuesIn(testing::allServerKinds()),
                         [](const auto& info) { return testing::serverKindName(info.param); });

TEST_P(ServerActions, DeleteOfAVanishedServerFileReportsTheServersReply) {
  put("x", "1");
  openListings();
  Entry* target = find(serverListing, "x");
  target->state = Unchanged;
  auto counterpart = placeholder("x");
  remove("x");
  run.always.deleteUnchangedFile = true;
  std::string output = printed([&] {
    EXPECT_EQ(deleteFile(run, serverListing, target, counterpart.get(), Confirm::ask),
              Outcome::failed);
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
  run.always.deleteUpdatedFile = true;
  EXPECT_EQ(printed([&] {
              EXPECT_EQ(deleteFile(run, serverListing, target, counterpart.get(), Confirm::ask),
                        Outcome::done);
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
  run.always.createDirectory = true;
  EXPECT_EQ(printed([&] {
              EXPECT_EQ(createDirectory(run, serverListing, nullptr, source, Confirm::ask),
                        Outcome::done);
            }),
            "");
  EXPECT_TRUE(server->tree().isDirectory(directory + "/d"));
  ASSERT_FALSE(serverListing.empty());
  EXPECT_EQ(serverListing.entries()[0].name, "d");
  EXPECT_EQ(serverListing.entries()[0].isDirectory, 1);
  EXPECT_EQ(recorded(&serverListing.entries()[0]), kNewTouched);
  EXPECT_EQ(serverListing.current(), nullptr);
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
  EXPECT_TRUE(serverListing.empty());
  EXPECT_EQ(recorded(source), kDroppedUntouched);
}

TEST_P(ServerActions, CreateDirectoryOverAPlaceholderInsertsNothing) {
  put("d/x", "1");
  openListings();
  Entry* source = find(serverListing, "d");
  source->state = Unchanged;
  Entry* existing = localListing.insertSorted(placeholder("d", 1));
  EXPECT_EQ(printed([&] {
              EXPECT_EQ(createDirectory(run, localListing, existing, source, Confirm::no),
                        Outcome::done);
            }),
            "");
  EXPECT_TRUE(local.isDirectory("d"));
  ASSERT_EQ(localListing.entries().size(), 1u);
  EXPECT_EQ(&localListing.entries()[0], existing);
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
  run.always.deleteDirectory = true;
  EXPECT_EQ(printed([&] {
              EXPECT_EQ(deleteDirectory(run, serverListing, target, counterpart.get(), Confirm::ask,
                        KeepNewFiles::no),
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
  run.always.deleteDirectory = true;
  serverFaults.deleteFault.arm("x");
  EXPECT_EQ(printed([&] {
              EXPECT_EQ(deleteDirectory(run, serverListing, target, counterpart.get(), Confirm::ask,
                        KeepNewFiles::no),
                        Outcome::failed);
            }),
            "Deleting directory 'd' on server\n"
            "Error: Can't delete server directory 'd' - Injected failure\n");
  EXPECT_EQ(read("d/x"), "1");
  EXPECT_EQ(recorded(target), kUnchangedUntouched);
  EXPECT_EQ(recorded(counterpart.get()), kUnchangedUntouched);
}

}  // namespace
}  // namespace tandrel
