// The entry actions that copy files, against real servers of each kind: what
// each prints, what both sides hold afterwards and what is recorded on both
// entries. Failures come from fault-injecting wrappers or from the server's
// own refusals.
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

class TransferActions : public ServerActionTest {};

INSTANTIATE_TEST_SUITE_P(Servers, TransferActions, ::testing::ValuesIn(testing::allServerKinds()),
                         [](const auto& info) { return testing::serverKindName(info.param); });

TEST_P(TransferActions, CreateFromTheServerCopiesAndRecordsBothTimes) {
  put("a", "from the server");
  openListings();
  Entry* source = find(serverListing, "a");
  Entry* before = localListing.current();
  EXPECT_EQ(printed([&] {
              EXPECT_EQ(createFrom(run, localListing, uploads, nullptr, source), Outcome::done);
              uploads.complete(run);
            }),
            "Creating file 'a' on local\n");
  EXPECT_EQ(local.read("a"), "from the server");
  EXPECT_FALSE(local.exists(temporaryName()));
  Entry* created = &localListing.entries()[0];
  ASSERT_NE(created, before);
  EXPECT_EQ(created->name, "a");
  EXPECT_EQ(localListing.current(), before) << "the entry at the cursor stays current";
  EXPECT_EQ(recorded(created), kNewTouched);
  EXPECT_EQ(created->writeTime, localTime("a"));
  EXPECT_EQ(recorded(source), kNewTouched);
  EXPECT_EQ(source->writeTime, serverTime("a"));
}

TEST_P(TransferActions, CreateFromTheLocalSidePutsAndRecordsBothTimes) {
  local.write("a", "from the local side");
  openListings();
  Entry* source = find(localListing, "a");
  EXPECT_EQ(printed([&] {
              EXPECT_EQ(createFrom(run, serverListing, uploads, nullptr, source), Outcome::done);
              uploads.complete(run);
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

TEST_P(TransferActions, CreateFromOverAPlaceholderDropsIt) {
  local.write("a", "again");
  openListings();
  Entry* source = find(localListing, "a");
  source->state = Changed;
  Entry* existing = serverListing.insertSorted(placeholder("a"));
  EXPECT_EQ(printed([&] {
              EXPECT_EQ(createFrom(run, serverListing, uploads, existing, source), Outcome::done);
            }),
            "Creating file 'a' on server\n");
  EXPECT_EQ(recorded(existing), kDroppedTouched);
  EXPECT_EQ(recorded(source), kChangedTouched);
  EXPECT_EQ(read("a"), "again");
}

TEST_P(TransferActions, FailedPutInCreateFromAddsNoEntryAndDropsTheNewSource) {
  local.write("a", "1");
  openListings();
  Entry* source = find(localListing, "a");
  Entry* existing = serverListing.insertSorted(placeholder("a"));
  serverFaults.uploadFault.arm("a");
  EXPECT_EQ(
      printed([&] {
        EXPECT_EQ(createFrom(run, serverListing, uploads, existing, source), Outcome::failed);
      }),
      "Creating file 'a' on server\nError: Can't update server file 'a' - Injected failure\n");
  ASSERT_EQ(serverListing.entries().size(), 1u);
  EXPECT_EQ(&serverListing.entries()[0], existing);
  EXPECT_EQ(recorded(existing), kUnchangedUntouched);
  EXPECT_EQ(recorded(source), kDroppedUntouched);
  EXPECT_FALSE(exists("a"));
}

TEST_P(TransferActions, UpdateAnnouncesAndRecordsBoth) {
  local.write("a", "new local copy");
  put("a", "old server copy");
  openListings();
  Entry* target = find(serverListing, "a");
  target->state = Unchanged;
  Entry* source = find(localListing, "a");
  source->state = Changed;
  EXPECT_EQ(printed([&] {
              EXPECT_EQ(updateFile(run, serverListing, uploads, target, source, Confirm::no,
                                   Announce::line),
                        Outcome::done);
              uploads.complete(run);
            }),
            "Updating file 'a' on server\n");
  EXPECT_EQ(read("a"), "new local copy");
  EXPECT_EQ(recorded(target), kUnchangedTouched);
  EXPECT_EQ(recorded(source), kChangedTouched);
  EXPECT_EQ(target->writeTime, serverTime("a"));
}

TEST_P(TransferActions, UpdateWithoutAnnounceAndWithStandingAnswerPrintsNothing) {
  local.write("a", "local");
  put("a", "server");
  openListings();
  run.always.overwrite = true;
  EXPECT_EQ(printed([&] {
              EXPECT_EQ(updateFile(run, localListing, uploads, find(localListing, "a"),
                                   find(serverListing, "a"), Confirm::ask, Announce::no),
                        Outcome::done);
            }),
            "");
  EXPECT_EQ(local.read("a"), "server");
}

TEST_P(TransferActions, OverwriteOfNewFilesAnsweredNoDropsBoth) {
  local.write("a", "local");
  put("a", "server");
  openListings();
  Entry* target = find(serverListing, "a");
  Entry* source = find(localListing, "a");
  ScopedKeys keys("n");
  EXPECT_EQ(printed([&] {
              EXPECT_EQ(updateFile(run, serverListing, uploads, target, source, Confirm::ask,
                                   Announce::line),
                        Outcome::declined);
            }),
            "File 'a' exists on server, do you want to overwrite? Y(es)/N(o)/A(lways):n\n");
  EXPECT_EQ(read("a"), "server");
  EXPECT_EQ(recorded(target), kDroppedUntouched);
  EXPECT_EQ(recorded(source), kDroppedUntouched);
}

TEST_P(TransferActions, OverwriteOfChangedFilesAnsweredNoKeepsTheRecordedTimes) {
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
              EXPECT_EQ(updateFile(run, localListing, uploads, target, source, Confirm::ask,
                                   Announce::line),
                        Outcome::declined);
            }),
            "File 'a' on local is changed, do you want to overwrite? Y(es)/N(o)/A(lways):N\n");
  EXPECT_EQ(local.read("a"), "local");
  EXPECT_EQ(recorded(target), kUnchangedUntouched);
  EXPECT_EQ(recorded(source), kUnchangedUntouched);
  EXPECT_EQ(target->writeTime, 1111u);
  EXPECT_EQ(source->writeTime, 2222u);
}

TEST_P(TransferActions, OverwriteAnsweredAlwaysSetsTheStandingAnswer) {
  local.write("a", "local");
  put("a", "server");
  openListings();
  ScopedKeys keys("a");
  EXPECT_EQ(printed([&] {
              EXPECT_EQ(updateFile(run, serverListing, uploads, find(serverListing, "a"),
                                   find(localListing, "a"), Confirm::ask, Announce::line),
                        Outcome::done);
            }),
            "File 'a' exists on server, do you want to overwrite? Y(es)/N(o)/A(lways):a\n"
            "Updating file 'a' on server\n");
  EXPECT_EQ(run.always.overwrite, 1);
  EXPECT_EQ(read("a"), "local");
}

TEST_P(TransferActions, BrokenDownloadKeepsTheOldLocalCopy) {
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
    EXPECT_EQ(updateFile(run, localListing, uploads, target, source, Confirm::no, Announce::line),
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

TEST_P(TransferActions, ShortWriteKeepsTheOldLocalCopy) {
  local.write("a", "old local copy");
  put("a", std::string(256 * 1024, 'n'));
  openListings();
  Entry* target = find(localListing, "a");
  Entry* source = find(serverListing, "a");
  localFaults.shortWriteFault.arm();
  localFaults.shortWriteAfterBytes = 1000;
  EXPECT_EQ(printed([&] {
              EXPECT_EQ(updateFile(run, localListing, uploads, target, source, Confirm::no,
                                   Announce::line),
                        Outcome::failed);
            }),
            "Updating file 'a' on local\nError: Can't update local file 'a' - Injected failure\n");
  EXPECT_EQ(localFaults.shortWriteFault.fired, 1);
  EXPECT_EQ(local.read("a"), "old local copy");
  EXPECT_FALSE(local.exists(temporaryName()));
  EXPECT_EQ(recorded(target), kDroppedUntouched);
  EXPECT_EQ(recorded(source), kDroppedUntouched);
}

TEST_P(TransferActions, DownloadOfADifferentSizeThanListedFails) {
  local.write("a", "old local copy");
  put("a", "12345");
  openListings();
  put("a", "123");  // changed on the server after it was listed
  EXPECT_EQ(printed([&] {
              EXPECT_EQ(updateFile(run, localListing, uploads, find(localListing, "a"),
                                   find(serverListing, "a"), Confirm::no, Announce::line),
                        Outcome::failed);
            }),
            "Updating file 'a' on local\n"
            "Error: Can't update local file 'a' - The file changed while it was copied\n");
  EXPECT_EQ(local.read("a"), "old local copy");
  EXPECT_FALSE(local.exists(temporaryName()));
}

TEST_P(TransferActions, UploadBrokenHalfwayKeepsTheOldServerCopy) {
  local.write("a", std::string(256 * 1024, 'l'));
  put("a", "old server copy");
  openListings();
  localFaults.failAfter = 100 * 1024;
  std::string output = printed([&] {
    EXPECT_EQ(updateFile(run, serverListing, uploads, find(serverListing, "a"),
                         find(localListing, "a"), Confirm::no, Announce::line),
              Outcome::failed);
  });
  EXPECT_TRUE(
      output.starts_with("Updating file 'a' on server\nError: Can't update server file 'a' - "))
      << output;
  EXPECT_EQ(read("a"), "old server copy");
  EXPECT_FALSE(exists(temporaryName()));
}

TEST_P(TransferActions, UploadThatCannotReadItsFirstByteLeavesNoTemporaryFile) {
  local.write("a", "local");
  put("a", "old server copy");
  openListings();
  localFaults.failAfter = 0;
  EXPECT_EQ(printed([&] {
              EXPECT_EQ(updateFile(run, serverListing, uploads, find(serverListing, "a"),
                                   find(localListing, "a"), Confirm::no, Announce::no),
                        Outcome::failed);
            }),
            "Error: Can't update server file 'a' - Input/output error\n");
  EXPECT_EQ(read("a"), "old server copy");
  EXPECT_FALSE(exists(temporaryName()));
}

TEST_P(TransferActions, RefreshOfAMissingServerFileTriesTenTimes) {
  openListings();
  Entry entry;
  entry.name = "missing";
  entry.writeTime = 77;
  EXPECT_FALSE(refreshTime(run, entry, false));
  EXPECT_EQ(serverFaults.lookUps, 10);
  EXPECT_EQ(entry.writeTime, 77u);
}

TEST_P(TransferActions, RefreshOfAServerFileTakesTheListedTime) {
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
