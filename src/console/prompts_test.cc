// The two questions in-process: standing answers, the key tables, and the
// question printed again for any other key. Keys come from a pipe put in place
// of standard input; its writing end stays open, so the input never ends here
// (the end of input is a once-per-process event, tested on the built tool).
#include "console/prompts.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <ostream>
#include <string>

#include "support/scoped_keys.h"

namespace tandrel {
namespace {
using testing::ScopedKeys;


const char* const kDelete = "Do you want to delete '%s' on %s ? Y(es)/N(o)/A(lways):";
const char* const kCreate =
    "Server directory '%s' does not exists, do you want to create? Y(es)/N(o)/A(lways):";
const char* const kDeleteDirectory =
    "Do you want to delete directory '%s' on %s?\n"
    "Y(es)/N(o)/A(lways delete)/R(ecreate on '%s')/(always re)C(reate):";

const std::string kDeleteF = "Do you want to delete 'f' on server ? Y(es)/N(o)/A(lways):";
const std::string kDeleteDirectoryD =
    "Do you want to delete directory 'd' on local?\n"
    "Y(es)/N(o)/A(lways delete)/R(ecreate on 'server')/(always re)C(reate):";

class Prompt : public ::testing::Test {
 protected:
  // Asks the Yes / No / Always question about 'f' on the server with `keys` at
  // hand; the printed text goes to `printed`.
  int yesNoAlways(const std::string& keys, int& standing) {
    ScopedKeys input(keys);
    ::testing::internal::CaptureStdout();
    int answer = askYesNoAlways(kDelete, "f", standing, "server");
    printed = ::testing::internal::GetCapturedStdout();
    return answer;
  }
  int deleteDirectory(const std::string& keys, int& recreate) {
    ScopedKeys input(keys);
    ::testing::internal::CaptureStdout();
    int answer = askDeleteDirectory(kDeleteDirectory, "d", always.deleteDirectory, recreate,
                                    always.recreateDirectory, "local", "server");
    printed = ::testing::internal::GetCapturedStdout();
    return answer;
  }

  std::string printed;
  // The standing answers the questions read and set.
  struct {
    int createDirectory = 0;
    int deleteDirectory = 0;
    int recreateDirectory = 0;
  } always;
};

TEST_F(Prompt, StandingAnswerSaysYesWithoutAsking) {
  int standing = 1;
  EXPECT_EQ(yesNoAlways("n", standing), 1);
  EXPECT_EQ(printed, "");
}

TEST_F(Prompt, YesAndNoLeaveTheStandingAnswerAlone) {
  int standing = 0;
  EXPECT_EQ(yesNoAlways("Y", standing), 1);
  EXPECT_EQ(printed, kDeleteF + "Y\n");
  EXPECT_EQ(yesNoAlways("n", standing), 0);
  EXPECT_EQ(printed, kDeleteF + "n\n");
  EXPECT_EQ(standing, 0);
}

TEST_F(Prompt, AlwaysSetsTheStandingAnswer) {
  int standing = 0;
  EXPECT_EQ(yesNoAlways("a", standing), 1);
  EXPECT_EQ(standing, 1);
  EXPECT_EQ(yesNoAlways("n", standing), 1);
  EXPECT_EQ(printed, "");
}

TEST_F(Prompt, AnyOtherKeyAsksAgain) {
  int standing = 0;
  EXPECT_EQ(yesNoAlways("x 5\t\x03\x1bN", standing), 0);
  std::string expected;
  for (const char* echo : {"x", " ", "5", "\t", "\x03", "\x1b"}) expected += kDeleteF + echo + "\n";
  EXPECT_EQ(printed, expected + kDeleteF + "N\n");
  EXPECT_EQ(standing, 0);
}

TEST_F(Prompt, CreateQuestionTakesOnlyTheName) {
  ScopedKeys input("y");
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(askYesNoAlways(kCreate, "new%dir", always.createDirectory), 1);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "Server directory 'new%dir' does not exists, do you want to create? "
            "Y(es)/N(o)/A(lways):y\n");
}

struct DirectoryAnswer {
  std::string key;
  int result, recreate, alwaysDelete, alwaysRecreate;
};

void PrintTo(const DirectoryAnswer& c, std::ostream* os) { *os << c.key; }

class DirectoryKey : public Prompt, public ::testing::WithParamInterface<DirectoryAnswer> {};

TEST_P(DirectoryKey, FollowsTheKeyTable) {
  const DirectoryAnswer& c = GetParam();
  int recreate = 1;  // an old value must not survive the question
  EXPECT_EQ(deleteDirectory("?" + c.key, recreate), c.result);
  EXPECT_EQ(printed, kDeleteDirectoryD + "?\n" + kDeleteDirectoryD + c.key + "\n");
  EXPECT_EQ(recreate, c.recreate);
  EXPECT_EQ(always.deleteDirectory, c.alwaysDelete);
  EXPECT_EQ(always.recreateDirectory, c.alwaysRecreate);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, DirectoryKey,
    ::testing::Values(DirectoryAnswer{"y", 1, 0, 0, 0}, DirectoryAnswer{"A", 1, 0, 1, 0},
                      DirectoryAnswer{"n", 0, 0, 0, 0}, DirectoryAnswer{"R", 0, 1, 0, 0},
                      DirectoryAnswer{"r", 0, 1, 0, 0}, DirectoryAnswer{"c", 0, 1, 0, 1},
                      DirectoryAnswer{"C", 0, 1, 0, 1}),
    [](const auto& info) { return std::to_string(info.index); });

TEST_F(Prompt, AlwaysDeleteIsConsultedBeforeAlwaysRecreate) {
  always.deleteDirectory = 1;
  always.recreateDirectory = 1;
  int recreate = 1;
  EXPECT_EQ(deleteDirectory("n", recreate), 1);
  EXPECT_EQ(recreate, 0);
  EXPECT_EQ(printed, "");
}

TEST_F(Prompt, AlwaysRecreateAnswersWithoutAsking) {
  always.recreateDirectory = 1;
  int recreate = 0;
  EXPECT_EQ(deleteDirectory("y", recreate), 0);
  EXPECT_EQ(recreate, 1);
  EXPECT_EQ(printed, "");
}

}  // namespace
}  // namespace tandrel
