// The two-way synchronisation of files in one directory, end to end: the built
// tool under a terminal against every kind of real server (pyftpdlib, vsftpd,
// pure-ftpd), with the whole output, both trees, the exit status and the state
// databases checked after each run.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/sync_fixture.h"

namespace tandrel::testing {
namespace {

using SyncFiles = SyncTest;

// ---- First run ----------------------------------------------------------------

TEST_P(SyncFiles, FirstRunCopiesOneSidedFilesBothWaysWithoutAQuestion) {
  local.write("a", "local a", old());
  server.write("b", "server b", old());
  sync();
  expectActions(creating("a", "server") + creating("b", "local"));
  expectTreesEqual();
  EXPECT_EQ(localFiles(), "a:local a\nb:server b\n");
  EXPECT_EQ(localRecords(), "a b");
  EXPECT_EQ(serverRecords(), "a b");
  expectQuietRerun();
}

TEST_P(SyncFiles, FirstRunWithEmptySidesWritesNoDatabase) {
  sync();
  expectActions("");
  EXPECT_EQ(localRecords(), "(none)");
  EXPECT_EQ(serverRecords(), "(none)");
}

TEST_P(SyncFiles, SameNameOnFirstRunAsksTheServerSideAndYesPutsTheLocalCopy) {
  local.write("a", "local a", old());
  server.write("a", "server a", old());
  Answer overwrite{existsQuestion("a", "server"), "y"};
  sync({}, {overwrite});
  expectActions(asked(overwrite) + updating("a", "server"));
  EXPECT_EQ(serverFiles(), "a:local a\n");
  expectTreesEqual();
  EXPECT_EQ(localRecords(), "a");
  EXPECT_EQ(serverRecords(), "a");
  expectQuietRerun();
}

TEST_P(SyncFiles, SameNameOnFirstRunAnsweredNoKeepsBothAndAsksAgain) {
  local.write("a", "local a", old());
  server.write("a", "server a", old());
  Answer keep{existsQuestion("a", "server"), "n"};
  sync({}, {keep});
  expectActions(asked(keep));
  EXPECT_EQ(localFiles(), "a:local a\n");
  EXPECT_EQ(serverFiles(), "a:server a\n");
  // Nothing was touched, so nothing was recorded.
  EXPECT_EQ(localRecords(), "(none)");
  EXPECT_EQ(serverRecords(), "(none)");
  sync({}, {keep});
  expectActions(asked(keep));
}

TEST_P(SyncFiles, SameNameOnFirstRunWithFtpWinsAsksTheLocalSide) {
  local.write("a", "local a", old());
  server.write("a", "server a", old());
  Answer overwrite{existsQuestion("a", "local"), "y"};
  sync({"-f"}, {overwrite});
  expectActions(asked(overwrite) + updating("a", "local"));
  EXPECT_EQ(localFiles(), "a:server a\n");
  expectTreesEqual();
  expectQuietRerun({"-f"});
}

TEST_P(SyncFiles, SameNameOnFirstRunWithFtpWinsAnsweredNoKeepsBoth) {
  local.write("a", "local a", old());
  server.write("a", "server a", old());
  local.write("b", "only here", old());
  Answer keep{existsQuestion("a", "local"), "n"};
  sync({"-f"}, {keep});
  expectActions(asked(keep) + creating("b", "server"));
  EXPECT_EQ(localFiles(), "a:local a\nb:only here\n");
  EXPECT_EQ(serverFiles(), "a:server a\nb:only here\n");
  // The declined pair stays out of both databases; the copied file is in both.
  EXPECT_EQ(localRecords(), "b");
  EXPECT_EQ(serverRecords(), "b");
}

TEST_P(SyncFiles, AlwaysOverwritesEveryLaterConflictWithoutAsking) {
  for (const char* name : {"a", "b", "c"}) {
    local.write(name, std::string("local ") + name, old());
    server.write(name, std::string("server ") + name, old());
  }
  Answer always{existsQuestion("a", "server"), "a"};
  sync({}, {always});
  expectActions(asked(always) + updating("a", "server") + updating("b", "server") +
                updating("c", "server"));
  EXPECT_EQ(serverFiles(), "a:local a\nb:local b\nc:local c\n");
  expectTreesEqual();
}

TEST_P(SyncFiles, EmptyAndBinaryFilesArriveIntact) {
  const std::string binary("\0\x01\xff\r\n\x1a end", 10);
  local.write("binary", binary, old());
  server.write("empty", "", old());
  sync();
  expectActions(creating("binary", "server") + creating("empty", "local"));
  EXPECT_EQ(server.read("binary"), binary);
  EXPECT_TRUE(local.exists("empty"));
  expectTreesEqual();
  expectQuietRerun();
}

TEST_P(SyncFiles, ServerThatRefusesToRenameOverAFileKeepsItsCopy) {
  if (kind() == ServerKind::pyftpdlib)
    GTEST_SKIP() << "pyftpdlib runs as root here and is refused nothing";
  // A directory shared the way /tmp is (sticky, writable by all, owned by
  // root) holding a root-owned file that anyone may write: the server's user
  // may overwrite the file but not rename another file over it, as servers
  // that refuse RNTO onto an existing name do.
  ASSERT_EQ(chown(server.path().c_str(), 0, 0), 0);
  ASSERT_EQ(chmod(server.path().c_str(), 01777), 0);
  Tree(server.path()).write("x", "server x", old());
  ASSERT_EQ(chmod(server.pathOf("x").c_str(), 0666), 0);
  local.write("x", "local x", old());
  Answer overwrite{existsQuestion("x", "server"), "y"};
  sync({}, {overwrite});
  // Neither renamed over nor moved aside: the real name is never written.
  expectActions(asked(overwrite) + updating("x", "server") +
                    lineStartingWith("Error: Can't update server file 'x' - "),
                1);
  EXPECT_EQ(server.read("x"), "server x");
}

// ---- Changes on one side -------------------------------------------------------

TEST_P(SyncFiles, LocalChangeIsPutToTheServerWithoutAQuestion) {
  local.write("a", "first", old());
  local.write("b", "untouched", old());
  recordBothSides();
  local.write("a", "second", later());
  sync();
  expectActions(updating("a", "server"));
  EXPECT_EQ(serverFiles(), "a:second\nb:untouched\n");
  expectTreesEqual();
  expectQuietRerun();
}

TEST_P(SyncFiles, ServerChangeIsFetchedWithoutAQuestion) {
  local.write("a", "first", old());
  local.write("b", "untouched", old());
  recordBothSides();
  server.write("a", "second", later());
  sync();
  expectActions(updating("a", "local"));
  EXPECT_EQ(localFiles(), "a:second\nb:untouched\n");
  expectTreesEqual();
  expectQuietRerun();
}

TEST_P(SyncFiles, OlderWriteTimeCountsAsUnchanged) {
  local.write("a", "first", old());
  recordBothSides();
  local.write("a", "edited but dated back", old() - 86400);
  expectQuietRerun();
  EXPECT_EQ(server.read("a"), "first");
}

TEST_P(SyncFiles, MissingServerDatabaseMakesTheServerCopyWin) {
  local.write("a", "first", old());
  recordBothSides();
  server.write("a", "server edit", later());
  local.remove("zztandrel.zzserverdb");
  // The server copy is new to this run and the local one unchanged: the server
  // copy is fetched without a question.
  sync();
  expectActions(updating("a", "local"));
  EXPECT_EQ(local.read("a"), "server edit");
  EXPECT_EQ(serverRecords(), "a");
}

TEST_P(SyncFiles, ServerEditWithinTheLastMonthsIsSeen) {
  // Recorded as the server lists a recent file (vsftpd: month, day and time).
  server.write("a", "first", old());
  sync();
  expectActions(creating("a", "local"));
  server.write("a", "second", old() + 86400);
  sync();
  expectActions(updating("a", "local"));
  EXPECT_EQ(local.read("a"), "second");
  expectQuietRerun();
}

TEST_P(SyncFiles, ServerEditOfAFileFromLastYearIsSeen) {
  // Recorded as the server lists an old file (vsftpd: the year, no time), then
  // edited yesterday (vsftpd: the time, no year).
  server.write("a", "first", old() - 390 * 86400);
  sync();
  expectActions(creating("a", "local"));
  server.write("a", "second", old() + 9 * 86400);
  sync();
  expectActions(updating("a", "local"));
  EXPECT_EQ(local.read("a"), "second");
  expectQuietRerun();
}

TEST_P(SyncFiles, DamagedServerDatabaseIsReportedAndTheServerCopyWins) {
  local.write("a", "first", old());
  recordBothSides();
  server.write("a", "server edit", later());
  std::string bytes = local.read("zztandrel.zzserverdb");
  local.write("zztandrel.zzserverdb", bytes.substr(0, bytes.size() - 1));
  sync();
  // A warning counts towards the exit status like an error.
  expectActions(
      "Warning: Can't load server database file 'zztandrel.zzserverdb'.\n" + updating("a", "local"),
      1);
  EXPECT_EQ(local.read("a"), "server edit");
  EXPECT_EQ(serverRecords(), "a");
  expectQuietRerun();
}

TEST_P(SyncFiles, DatabaseOfAnotherFormatIsIgnoredSilently) {
  local.write("a", "first", old());
  recordBothSides();
  local.write("zztandrel.zzlocaldb", "NOT A DATABASE OF OURS");
  sync();
  // Every local file is new again, the server copy unchanged: local wins.
  expectActions(updating("a", "server"));
  EXPECT_EQ(localRecords(), "a");
  expectQuietRerun();
}

// ---- Changes on both sides -----------------------------------------------------

TEST_P(SyncFiles, ChangedOnBothSidesAsksTheServerSideAndYesPutsTheLocalCopy) {
  local.write("a", "first", old());
  recordBothSides();
  local.write("a", "local edit", later());
  server.write("a", "server edit", later());
  Answer overwrite{changedQuestion("a", "server"), "y"};
  sync({}, {overwrite});
  expectActions(asked(overwrite) + updating("a", "server"));
  EXPECT_EQ(serverFiles(), "a:local edit\n");
  expectTreesEqual();
  expectQuietRerun();
}

TEST_P(SyncFiles, ChangedOnBothSidesAnsweredNoIsAskedAgainNextRun) {
  local.write("a", "first", old());
  recordBothSides();
  DatabaseFiles recorded = databaseFiles();
  local.write("a", "local edit", later());
  server.write("a", "server edit", later());
  Answer keep{changedQuestion("a", "server"), "n"};
  sync({}, {keep});
  expectActions(asked(keep));
  EXPECT_EQ(localFiles(), "a:local edit\n");
  EXPECT_EQ(serverFiles(), "a:server edit\n");
  EXPECT_EQ(databaseFiles(), recorded) << "a declined conflict records nothing";
  sync({}, {keep});
  expectActions(asked(keep));
}

TEST_P(SyncFiles, DeclinedConflictKeepsItsOlderTimesWhenTheDatabaseIsSaved) {
  local.write("a", "first", old());
  recordBothSides();
  local.write("a", "local edit", later());
  server.write("a", "server edit", later());
  local.write("b", "new", old());
  Answer keep{changedQuestion("a", "server"), "n"};
  sync({}, {keep});
  expectActions(asked(keep) + creating("b", "server"));
  EXPECT_EQ(localRecords(), "a b");
  // The databases were written for b; a keeps the times of the last run, so
  // both copies still count as changed.
  sync({}, {keep});
  expectActions(asked(keep));
}

TEST_P(SyncFiles, ChangedOnBothSidesWithFtpWinsAsksTheLocalSide) {
  local.write("a", "first", old());
  recordBothSides();
  local.write("a", "local edit", later());
  server.write("a", "server edit", later());
  Answer overwrite{changedQuestion("a", "local"), "y"};
  sync({"-f"}, {overwrite});
  expectActions(asked(overwrite) + updating("a", "local"));
  EXPECT_EQ(localFiles(), "a:server edit\n");
  expectTreesEqual();
  expectQuietRerun({"-f"});
}

TEST_P(SyncFiles, ChangedLocallyAndDeletedOnServerIsPutBackWithoutAQuestion) {
  local.write("a", "first", old());
  recordBothSides();
  local.write("a", "local edit", later());
  server.remove("a");
  sync();
  expectActions(creating("a", "server"));
  EXPECT_EQ(serverFiles(), "a:local edit\n");
  expectQuietRerun();
}

TEST_P(SyncFiles, ChangedLocallyAndDeletedOnServerWithFtpWinsAsksToDeleteLocally) {
  local.write("a", "first", old());
  recordBothSides();
  local.write("a", "local edit", later());
  server.remove("a");
  Answer remove{stillDeleteQuestion("a", "local"), "y"};
  sync({"-f"}, {remove});
  expectActions(asked(remove) + deleting("a", "local"));
  EXPECT_EQ(localFiles(), "");
  EXPECT_EQ(localRecords(), "");
  EXPECT_EQ(serverRecords(), "");
}

TEST_P(SyncFiles, DeletedLocallyAndChangedOnServerAsksToDeleteOnServer) {
  local.write("a", "first", old());
  recordBothSides();
  local.remove("a");
  server.write("a", "server edit", later());
  Answer remove{stillDeleteQuestion("a", "server"), "y"};
  sync({}, {remove});
  expectActions(asked(remove) + deleting("a", "server"));
  EXPECT_EQ(serverFiles(), "");
  EXPECT_EQ(localRecords(), "");
  EXPECT_EQ(serverRecords(), "");
}

TEST_P(SyncFiles, DeletedLocallyAndChangedOnServerWithFtpWinsIsFetchedBack) {
  local.write("a", "first", old());
  recordBothSides();
  local.remove("a");
  server.write("a", "server edit", later());
  sync({"-f"});
  expectActions(creating("a", "local"));
  EXPECT_EQ(localFiles(), "a:server edit\n");
  expectQuietRerun({"-f"});
}

// ---- Deletions -----------------------------------------------------------------

TEST_P(SyncFiles, DeletedLocallyIsDeletedOnServerAfterYes) {
  local.write("a", "first", old());
  local.write("b", "stays", old());
  recordBothSides();
  local.remove("a");
  Answer remove{deleteQuestion("a", "server"), "y"};
  sync({}, {remove});
  expectActions(asked(remove) + deleting("a", "server"));
  EXPECT_EQ(serverFiles(), "b:stays\n");
  EXPECT_EQ(localRecords(), "b");
  EXPECT_EQ(serverRecords(), "b");
  expectQuietRerun();
}

TEST_P(SyncFiles, DeletedLocallyAndAnsweredNoIsAskedAgainNextRun) {
  local.write("a", "first", old());
  recordBothSides();
  DatabaseFiles recorded = databaseFiles();
  local.remove("a");
  Answer keep{deleteQuestion("a", "server"), "n"};
  sync({}, {keep});
  expectActions(asked(keep));
  EXPECT_EQ(serverFiles(), "a:first\n");
  EXPECT_EQ(databaseFiles(), recorded) << "a declined deletion records nothing";
  sync({}, {keep});
  expectActions(asked(keep));
}

TEST_P(SyncFiles, DeclinedDeletionKeepsItsPlaceholderWhenTheDatabaseIsSaved) {
  local.write("a", "first", old());
  recordBothSides();
  local.remove("a");
  local.write("b", "new", old());
  Answer keep{deleteQuestion("a", "server"), "n"};
  sync({}, {keep});
  expectActions(asked(keep) + creating("b", "server"));
  // The local side still records a, as deleted (write time 0), so the
  // question comes again.
  EXPECT_EQ(localRecords(), "a(0) b");
  EXPECT_EQ(serverRecords(), "a b");
  sync({}, {keep});
  expectActions(asked(keep));
}

TEST_P(SyncFiles, AlwaysDeletesLaterUnchangedFilesButStillAsksForUpdatedOnes) {
  for (const char* name : {"a", "b", "c"}) local.write(name, name, old());
  recordBothSides();
  for (const char* name : {"a", "b", "c"}) local.remove(name);
  server.write("c", "server edit", later());
  Answer always{deleteQuestion("a", "server"), "a"};
  Answer updated{stillDeleteQuestion("c", "server"), "y"};
  sync({}, {always, updated});
  expectActions(asked(always) + deleting("a", "server") + deleting("b", "server") + asked(updated) +
                deleting("c", "server"));
  EXPECT_EQ(serverFiles(), "");
  EXPECT_EQ(localRecords(), "");
  EXPECT_EQ(serverRecords(), "");
}

TEST_P(SyncFiles, DeletedOnServerIsDeletedLocallyAfterYes) {
  local.write("a", "first", old());
  local.write("b", "stays", old());
  recordBothSides();
  server.remove("a");
  Answer remove{deleteQuestion("a", "local"), "y"};
  sync({}, {remove});
  expectActions(asked(remove) + deleting("a", "local"));
  EXPECT_EQ(localFiles(), "b:stays\n");
  EXPECT_EQ(localRecords(), "b");
  EXPECT_EQ(serverRecords(), "b");
  expectQuietRerun();
}

TEST_P(SyncFiles, DeletedOnServerAndAnsweredNoIsAskedAgainNextRun) {
  local.write("a", "first", old());
  recordBothSides();
  server.remove("a");
  Answer keep{deleteQuestion("a", "local"), "n"};
  sync({}, {keep});
  expectActions(asked(keep));
  EXPECT_EQ(localFiles(), "a:first\n");
  sync({}, {keep});
  expectActions(asked(keep));
}

TEST_P(SyncFiles, DeletedOnBothSidesIsDroppedWithoutAQuestion) {
  local.write("a", "first", old());
  local.write("b", "stays", old());
  recordBothSides();
  local.remove("a");
  server.remove("a");
  sync();
  expectActions("");
  EXPECT_EQ(localRecords(), "b");
  EXPECT_EQ(serverRecords(), "b");
  expectQuietRerun();
}

// ---- -y ------------------------------------------------------------------------

TEST_P(SyncFiles, YesToAllAsksNothing) {
  for (const char* name : {"changed", "deleted-here", "deleted-there", "updated-there"})
    local.write(name, "first", old());
  recordBothSides();
  local.write("changed", "local edit", later());
  server.write("changed", "server edit", later());
  local.remove("deleted-here");
  server.remove("deleted-there");
  local.remove("updated-there");
  server.write("updated-there", "server edit", later());
  local.write("new", "both", old());
  server.write("new", "both, other copy", old());
  sync({"-y"});
  expectActions(updating("changed", "server") + deleting("deleted-here", "server") +
                deleting("deleted-there", "local") + updating("new", "server") +
                deleting("updated-there", "server"));
  EXPECT_EQ(localFiles(), "changed:local edit\nnew:both\n");
  expectTreesEqual();
  expectQuietRerun({"-y"});
}

// ---- Names -----------------------------------------------------------------------

TEST_P(SyncFiles, FilesAreHandledInByteOrderNotLocaleOrder) {
  // A locale would sort a, B, é, Z.txt; bytes sort B, Z.txt, _, a, é.
  local.write("a", "1", old());
  local.write("Z.txt", "2", old());
  server.write("B", "3", old());
  server.write("_", "4", old());
  server.write("\xc3\xa9", "5", old());
  sync();
  expectActions(creating("B", "local") + creating("Z.txt", "server") + creating("_", "local") +
                creating("a", "server") + creating("\xc3\xa9", "local"));
  expectTreesEqual();
  EXPECT_EQ(localRecords(), "B Z.txt _ a \xc3\xa9");
  EXPECT_EQ(serverRecords(), "B Z.txt _ a \xc3\xa9");
  expectQuietRerun();
}

TEST_P(SyncFiles, NamesThatNeedEscapingTravelIntact) {
  for (const char* name : {"with space", "hash#mark", "per%cent", "-dash", "semi;colon"})
    local.write(name, name, old());
  sync();
  expectActions(creating("-dash", "server") + creating("hash#mark", "server") +
                creating("per%cent", "server") + creating("semi;colon", "server") +
                creating("with space", "server"));
  expectTreesEqual();
  expectQuietRerun();
}

TEST_P(SyncFiles, NamesThatLookLikeListingSyntaxTravelIntact) {
  // Dot-files, leading, trailing and doubled spaces, an arrow as a link shows
  // it, and leading digits as a size column shows them.
  for (const char* name : {".hidden", " lead", "trail ", "two  spaces", "x -> y", "12 Dec 07"})
    server.write(name, name, old());
  sync();
  expectActions(creating(" lead", "local") + creating(".hidden", "local") +
                creating("12 Dec 07", "local") + creating("trail ", "local") +
                creating("two  spaces", "local") + creating("x -> y", "local"));
  expectTreesEqual();
  expectQuietRerun();
}

TEST_P(SyncFiles, EightBitNamesTravelAsBytes) {
  local.write("caf\xe9", "latin-1", old());
  server.write("na\xefve", "latin-1 too", old());
  sync();
  expectActions(creating("caf\xe9", "server") + creating("na\xefve", "local"));
  expectTreesEqual();
  expectQuietRerun();
}

TEST_P(SyncFiles, LargeFilesTravelBothWays) {
  std::string up(700 * 1024, '\0'), down(900 * 1024 + 7, '\0');
  for (size_t i = 0; i < up.size(); ++i) up[i] = static_cast<char>(i * 7 + i / 251);
  for (size_t i = 0; i < down.size(); ++i) down[i] = static_cast<char>(i * 13 + i / 241);
  local.write("up", up, old());
  server.write("down", down, old());
  sync();
  expectActions(creating("down", "local") + creating("up", "server"));
  EXPECT_TRUE(local.read("down") == down) << "the download differs";
  EXPECT_TRUE(server.read("up") == up) << "the upload differs";
  expectQuietRerun();
}

TEST_P(SyncFiles, ManyFilesInOneDirectoryAreRecordedAsTheServerListsThem) {
  for (int i = 0; i < 150; ++i) {
    std::string up = "up" + std::to_string(1000 + i), down = "down" + std::to_string(1000 + i);
    local.write(up, up, old());
    server.write(down, down, old());
  }
  sync();
  ASSERT_TRUE(last.exitedWith(0)) << last.describe();
  expectTreesEqual();
  // Every write time recorded is the one the next listing shows.
  expectQuietRerun();
}

INSTANTIATE_TEST_SUITE_P(Servers, SyncFiles, ::testing::ValuesIn(allServerKinds()),
                         serverParameterName);

}  // namespace
}  // namespace tandrel::testing
