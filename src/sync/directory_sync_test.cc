// Directory synchronisation on a real server, with local failures injected:
// what the walk reports for a directory it cannot enter or list, and where a
// directory's records are trusted.
#include "sync/directory_sync.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "state/run_state.h"
#include "storage/sides.h"
#include "support/faulty_sides.h"
#include "support/ftp_server.h"
#include "support/scoped_directory.h"
#include "support/status_check.h"
#include "support/temp_tree.h"
#include "support/test_run.h"

namespace tandrel {
namespace {

using testing::FaultyLocalSide;
using testing::FtpServer;
using testing::ScopedDirectory;
using testing::ServerKind;
using testing::TempTree;

class DirectoryWalk : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(ftp.started()) << ftp.startError();
    here.emplace(local.path());
    ASSERT_TRUE(succeeded(openSession()));
    LogIn logIn{{"127.0.0.1", ftp.port(), Security::none}, ftp.user(), ftp.password()};
    ASSERT_TRUE(succeeded(sides.server.connect(logIn)));
    run.settings.recursive = true;
    // As -y: no question may read the keyboard, whose end stays ended.
    run.yesSwitch = true;
    StandingAnswers& always = run.always;
    always.createDirectory = always.overwrite = always.deleteUnchangedFile = true;
    always.deleteUpdatedFile = always.deleteDirectory = true;
  }
  void TearDown() override { closeSession(sides.server); }
  std::string sync() {
    ::testing::internal::CaptureStdout();
    DirectorySync(run, "").run();
    return ::testing::internal::GetCapturedStdout();
  }

  FtpServer ftp{ServerKind::pyftpdlib};
  TempTree local;
  std::optional<ScopedDirectory> here;
  testing::RealSides sides;
  FaultyLocalSide faulty{sides.local};
  tandrel::Run run{faulty, sides.server};
};

TEST_F(DirectoryWalk, ADirectoryThatCannotBeEnteredOrListedIsReportedByTheWalk) {
  local.mkdir("noenter");
  local.write("noenter/a", "a");
  local.mkdir("nolist");
  local.write("nolist/b", "b");
  faulty.changeDirectoryFault.arm("noenter");
  faulty.listFault.arm("", 1);  // the start directory lists, "nolist" does not
  const std::string printed = sync();
  EXPECT_NE(printed.find("Synchronizing directory 'noenter'...\n"
                         "Error: Can't change local directory to 'noenter' - Injected failure\n"),
            std::string::npos)
      << printed;
  EXPECT_NE(printed.find("Synchronizing directory 'nolist'...\n"
                         "Error: Can't load local directory file list - Injected failure\n"),
            std::string::npos)
      << printed;
  EXPECT_EQ(printed.find("recursively"), std::string::npos) << printed;
}

// Records travel with their directory; they count only at the place they name,
// or, without a place file, where the parent's records know the directory.
TEST_F(DirectoryWalk, RecordsCountOnlyWhereTheyWereWritten) {
  local.write("docs/a", "a");
  ASSERT_EQ(sync().find("Error"), std::string::npos);
  EXPECT_TRUE(local.read("docs/zztandrel.zzplace").starts_with("/docs\nlocal "));
  EXPECT_TRUE(local.read("zztandrel.zzplace").starts_with("/\nlocal "));
  // Copied with its records: the copy's are ignored, the server copy is made.
  std::filesystem::copy(local.pathOf("docs"), local.pathOf("copy"),
                        std::filesystem::copy_options::recursive);
  local.remove("copy/a");
  ftp.tree().write("copy/a", "on the server");
  ASSERT_EQ(sync().find("Deleting"), std::string::npos);
  EXPECT_EQ(local.read("copy/a"), "on the server");
  EXPECT_TRUE(local.read("copy/zztandrel.zzplace").starts_with("/copy\n"));
  // Records of an older version, without a place file, in a directory the
  // parent's records do not know: ignored too.
  std::filesystem::rename(local.pathOf("docs"), local.pathOf("moved"));
  local.remove("moved/zztandrel.zzplace");
  local.remove("moved/a");
  ftp.tree().write("moved/a", "server a");
  ASSERT_EQ(sync().find("Deleting file"), std::string::npos);
  EXPECT_EQ(local.read("moved/a"), "server a");
  // A subtree synchronised from a start of its own: the same two directories.
  local.remove("moved/a");
  ASSERT_TRUE(succeeded(run.server.changeDirectory("moved")));
  ASSERT_TRUE(succeeded(run.local.changeDirectory("moved")));
  EXPECT_NE(sync().find("Deleting file 'a' on server"), std::string::npos);
}

}  // namespace
}  // namespace tandrel
