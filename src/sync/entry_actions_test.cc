// The entry actions on the local side, in a temporary tree: what each prints,
// what the tree holds afterwards and what is recorded on both entries.
// Failures come from a fault-injecting wrapper; questions are answered by
// standing answers or by keys from a pipe.
#include "sync/entry_actions.h"

#include <gtest/gtest.h>

#include <string>

#include "storage/reserved_names.h"
#include "support/scoped_keys.h"
#include "sync/entry_actions_fixture.h"

namespace tandrel {
namespace {

using enum EntryState;

using namespace action_tests;
using testing::ScopedKeys;

// ---- Local actions -----------------------------------------------------------

class LocalActions : public ::testing::Test {
 protected:
  void TearDown() override { listing.close(); }
  void openListing() { ASSERT_TRUE(listing.open("")); }

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
  run.always.deleteUnchangedFile = true;
  EXPECT_EQ(printed([&] {
              EXPECT_EQ(deleteFile(run, listing, target, counterpart.get(), Confirm::ask),
                        Outcome::done);
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
  run.always.deleteUnchangedFile = true;
  EXPECT_EQ(printed([&] {
              EXPECT_EQ(deleteFile(run, listing, target, counterpart.get(), Confirm::ask),
                        Outcome::failed);
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
              EXPECT_EQ(deleteFile(run, listing, target, counterpart.get(), Confirm::ask),
                        Outcome::declined);
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
  run.always.deleteUnchangedFile = true;
  ScopedKeys keys("A");
  EXPECT_EQ(printed([&] {
              EXPECT_EQ(deleteFile(run, listing, changed, counterpartA.get(), Confirm::ask),
                        Outcome::done);
              EXPECT_EQ(deleteFile(run, listing, unchanged, counterpartB.get(), Confirm::ask),
                        Outcome::done);
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
  run.always.deleteDirectory = true;
  EXPECT_EQ(printed([&] {
              EXPECT_EQ(deleteDirectory(run, listing, target, counterpart.get(), Confirm::ask,
                        KeepNewFiles::no), Outcome::done);
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
  run.always.deleteDirectory = true;
  localFaults.deleteFault.arm("x");
  EXPECT_EQ(printed([&] {
              EXPECT_EQ(deleteDirectory(run, listing, target, counterpart.get(), Confirm::ask,
                        KeepNewFiles::no), Outcome::failed);
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
              EXPECT_EQ(deleteDirectory(run, listing, target, counterpart.get(), Confirm::ask,
                        KeepNewFiles::no),
                        Outcome::recreate);
            }),
            "Do you want to delete directory 'd' on local?\n"
            "Y(es)/N(o)/A(lways delete)/R(ecreate on 'server')/(always re)C(reate):r\n");
  EXPECT_EQ(run.always.recreateDirectory, 0);
  EXPECT_EQ(tree.read("d/x"), "1");
  EXPECT_EQ(recorded(target), kUnchangedUntouched);
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
              EXPECT_EQ(deleteDirectory(run, listing, target, counterpart.get(), Confirm::ask,
                        KeepNewFiles::no),
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
  run.always.recreateDirectory = true;
  EXPECT_EQ(printed([&] {
              EXPECT_EQ(deleteDirectory(run, listing, target, counterpart.get(), Confirm::ask,
                        KeepNewFiles::no),
                        Outcome::recreate);
            }),
            "");
  EXPECT_EQ(recorded(target), stateText(New) + " 0");
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

}  // namespace
}  // namespace tandrel
