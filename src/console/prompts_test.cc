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
  bool yesNoAlways(const std::string& keys, bool& standing) {
    ScopedKeys input(keys);
    ::testing::internal::CaptureStdout();
    bool answer = askYesNoAlways(kDelete, "f", standing, "server");
    printed = ::testing::internal::GetCapturedStdout();
    return answer;
  }
  DirectoryChoice deleteDirectory(const std::string& keys) {
    ScopedKeys input(keys);
    ::testing::internal::CaptureStdout();
    DirectoryChoice answer = askDeleteDirectory(kDeleteDirectory, "d", always.deleteDirectory,
                                                always.recreateDirectory, "local", "server");
    printed = ::testing::internal::GetCapturedStdout();
    return answer;
  }

  std::string printed;
  // The standing answers the questions read and set.
  struct {
    bool createDirectory = false;
    bool deleteDirectory = false;
    bool recreateDirectory = false;
  } always;
};

TEST_F(Prompt, StandingAnswerSaysYesWithoutAsking) {
  bool standing = true;
  EXPECT_TRUE(yesNoAlways("n", standing));
  EXPECT_EQ(printed, "");
}

TEST_F(Prompt, YesAndNoLeaveTheStandingAnswerAlone) {
  bool standing = false;
  EXPECT_TRUE(yesNoAlways("Y", standing));
  EXPECT_EQ(printed, kDeleteF + "Y\n");
  EXPECT_FALSE(yesNoAlways("n", standing));
  EXPECT_EQ(printed, kDeleteF + "n\n");
  EXPECT_FALSE(standing);
}

TEST_F(Prompt, AlwaysSetsTheStandingAnswer) {
  bool standing = false;
  EXPECT_TRUE(yesNoAlways("a", standing));
  EXPECT_TRUE(standing);
  EXPECT_TRUE(yesNoAlways("n", standing));
  EXPECT_EQ(printed, "");
}

TEST_F(Prompt, AnyOtherKeyAsksAgain) {
  bool standing = false;
  EXPECT_FALSE(yesNoAlways("x 5\t\x03\x1bN", standing));
  std::string expected;
  for (const char* echo : {"x", " ", "5", "\t", "\x03", "\x1b"}) expected += kDeleteF + echo + "\n";
  EXPECT_EQ(printed, expected + kDeleteF + "N\n");
  EXPECT_FALSE(standing);
}

TEST_F(Prompt, CreateQuestionTakesOnlyTheName) {
  ScopedKeys input("y");
  ::testing::internal::CaptureStdout();
  EXPECT_TRUE(askYesNoAlways(kCreate, "new%dir", always.createDirectory));
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "Server directory 'new%dir' does not exists, do you want to create? "
            "Y(es)/N(o)/A(lways):y\n");
}

using C = DirectoryChoice;

struct DirectoryKeyRow {
  std::string key;
  DirectoryChoice choice;
  bool alwaysDelete, alwaysRecreate;
};

void PrintTo(const DirectoryKeyRow& c, std::ostream* os) { *os << c.key; }

class DirectoryKey : public Prompt, public ::testing::WithParamInterface<DirectoryKeyRow> {};

TEST_P(DirectoryKey, FollowsTheKeyTable) {
  const DirectoryKeyRow& c = GetParam();
  EXPECT_EQ(deleteDirectory("?" + c.key), c.choice);
  EXPECT_EQ(printed, kDeleteDirectoryD + "?\n" + kDeleteDirectoryD + c.key + "\n");
  EXPECT_EQ(always.deleteDirectory, c.alwaysDelete);
  EXPECT_EQ(always.recreateDirectory, c.alwaysRecreate);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, DirectoryKey,
    ::testing::Values(DirectoryKeyRow{"y", C::remove, false, false},
                      DirectoryKeyRow{"A", C::remove, true, false},
                      DirectoryKeyRow{"n", C::leave, false, false},
                      DirectoryKeyRow{"R", C::recreate, false, false},
                      DirectoryKeyRow{"r", C::recreate, false, false},
                      DirectoryKeyRow{"c", C::recreate, false, true},
                      DirectoryKeyRow{"C", C::recreate, false, true}),
    [](const auto& info) { return std::to_string(info.index); });

TEST_F(Prompt, AlwaysDeleteIsConsultedBeforeAlwaysRecreate) {
  always.deleteDirectory = true;
  always.recreateDirectory = true;
  EXPECT_EQ(deleteDirectory("n"), C::remove);
  EXPECT_EQ(printed, "");
}

TEST_F(Prompt, AlwaysRecreateAnswersWithoutAsking) {
  always.recreateDirectory = true;
  EXPECT_EQ(deleteDirectory("y"), C::recreate);
  EXPECT_EQ(printed, "");
}

}  // namespace
}  // namespace tandrel
