// The questions of the built tool, answered the way a user answers them: one
// key on a terminal (raw mode, the key echoed, the terminal restored after),
// or scripted through a pipe. Each situation is made with a small tree and a
// first run that records both sides, against a real pyftpdlib server.
#include <gtest/gtest.h>

#include <csignal>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "support/ftp_server.h"
#include "support/pty_run.h"
#include "support/temp_tree.h"

namespace tandrel::testing {
namespace {

std::string deleteQuestion(const std::string& name) {
  return "Do you want to delete '" + name + "' on server ? Y(es)/N(o)/A(lways):";
}

std::string overwriteQuestion(const std::string& name) {
  return "File '" + name + "' exists on server, do you want to overwrite? Y(es)/N(o)/A(lways):";
}

std::string directoryQuestion(const std::string& name) {
  return "Do you want to delete directory '" + name +
         "' on server?\nY(es)/N(o)/A(lways delete)/R(ecreate on 'local')/(always re)C(reate):";
}

std::string deleting(const std::string& name) { return "Deleting file '" + name + "' on server\n"; }

std::string deletingDirectory(const std::string& name) {
  return "Deleting directory '" + name + "' on server\n";
}

// What the run prints when it recreates the local directory `name` holding x.
std::string recreated(const std::string& name) {
  return "Synchronizing directory '" + name + "'...\nCreating file 'x' on local\n";
}

class Prompts : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server.started()) << server.startError(); }

  std::vector<std::string> arguments(const std::vector<std::string>& more) const {
    std::vector<std::string> all = {"-h", server.hostArgument(), "-u", server.user(),
                                    "-p", server.password(),     "-l", local.path()};
    all.insert(all.end(), more.begin(), more.end());
    return all;
  }

  // Puts the local files and directories on the server and records both sides.
  void recordBothSides() {
    RunResult first = runToolPiped(arguments({"-y", "-r"}), local.path());
    ASSERT_TRUE(first.exitedWith(0)) << first.describe();
  }

  // The files, and the directories each holding a file x, recorded on both
  // sides and then deleted locally.
  void deletedLocally(const std::vector<std::string>& files,
                      const std::vector<std::string>& directories = {}) {
    for (const std::string& name : files) local.write(name, "content of " + name);
    for (const std::string& name : directories) local.write(name + "/x", "x in " + name);
    ASSERT_NO_FATAL_FAILURE(recordBothSides());
    for (const std::string& name : files) local.remove(name);
    for (const std::string& name : directories) local.remove(name);
  }

  std::string start() const {
    return "\nTandrel V1.0\n"
           "Two-way synchronisation of a local directory tree with an FTP server\n"
           "\nConnecting to FTP server '" +
           server.hostArgument() + "' with '" + server.user() +
           "' user...\n"
           "Synchronizing local '" +
           local.path() + "' with '' on the '" + server.hostArgument() + "'...\n";
  }

  RunResult onTerminal(const std::vector<std::string>& more, const std::vector<PtyStep>& steps) {
    return runTool(arguments(more), local.path(), steps);
  }

  void expectTerminalRun(const RunResult& result, const std::string& dialogue) {
    EXPECT_EQ(result.output, start() + dialogue) << result.describe();
    EXPECT_TRUE(result.exitedWith(0)) << result.describe();
    EXPECT_TRUE(result.terminalRestored()) << "the terminal was left in raw mode";
    EXPECT_EQ(result.errorOutput, "") << "nothing may go to standard error";
  }

  void expectPipedRun(const RunResult& result, const std::string& dialogue) {
    EXPECT_EQ(result.output, start() + dialogue) << result.describe();
    EXPECT_TRUE(result.exitedWith(0)) << result.describe();
    EXPECT_EQ(result.errorOutput, "") << "nothing may go to standard error";
  }

  FtpServer server{ServerKind::pyftpdlib};
  Tree remote = server.tree();
  TempTree local;
};

// ---- Answers on a terminal --------------------------------------------------

struct KeyCase {
  std::string key;
  bool acts;  // the answer deletes (or overwrites)
};

void PrintTo(const KeyCase& c, std::ostream* os) { *os << quoted(c.key); }

std::string keyName(const KeyCase& c) {
  return std::string(c.key[0] >= 'a' ? "lower_" : "upper_") + c.key;
}

class FileQuestionKey : public Prompts, public ::testing::WithParamInterface<KeyCase> {};

TEST_P(FileQuestionKey, AnswersTheDeleteQuestion) {
  deletedLocally({"f"});
  RunResult result = onTerminal({}, {{deleteQuestion("f"), GetParam().key}});
  expectTerminalRun(
      result, deleteQuestion("f") + GetParam().key + "\n" + (GetParam().acts ? deleting("f") : ""));
  EXPECT_EQ(remote.exists("f"), !GetParam().acts);
}

TEST_P(FileQuestionKey, AnswersTheOverwriteQuestion) {
  local.write("f", "local copy");
  remote.write("f", "server copy");
  RunResult result = onTerminal({}, {{overwriteQuestion("f"), GetParam().key}});
  expectTerminalRun(result, overwriteQuestion("f") + GetParam().key + "\n" +
                                (GetParam().acts ? "Updating file 'f' on server\n" : ""));
  EXPECT_EQ(remote.read("f"), GetParam().acts ? "local copy" : "server copy");
  EXPECT_EQ(local.read("f"), "local copy");
}

INSTANTIATE_TEST_SUITE_P(Keys, FileQuestionKey,
                         ::testing::Values(KeyCase{"y", true}, KeyCase{"Y", true},
                                           KeyCase{"a", true}, KeyCase{"A", true},
                                           KeyCase{"n", false}, KeyCase{"N", false}),
                         [](const auto& info) { return keyName(info.param); });

struct DirectoryKeyCase {
  std::string key;
  std::string afterwards;  // what the run prints after the answer
  bool serverKeeps;
  bool localBack;
};

void PrintTo(const DirectoryKeyCase& c, std::ostream* os) { *os << quoted(c.key); }

class DirectoryQuestionKey : public Prompts,
                             public ::testing::WithParamInterface<DirectoryKeyCase> {};

TEST_P(DirectoryQuestionKey, AnswersTheDeleteDirectoryQuestion) {
  const DirectoryKeyCase& c = GetParam();
  deletedLocally({}, {"d"});
  RunResult result = onTerminal({"-r"}, {{directoryQuestion("d"), c.key}});
  expectTerminalRun(result, directoryQuestion("d") + c.key + "\n" + c.afterwards);
  EXPECT_EQ(remote.exists("d/x"), c.serverKeeps);
  EXPECT_EQ(local.read("d/x"), c.localBack ? "x in d" : "");
}

INSTANTIATE_TEST_SUITE_P(
    Keys, DirectoryQuestionKey,
    ::testing::Values(DirectoryKeyCase{"y", deletingDirectory("d"), false, false},
                      DirectoryKeyCase{"Y", deletingDirectory("d"), false, false},
                      DirectoryKeyCase{"a", deletingDirectory("d"), false, false},
                      DirectoryKeyCase{"A", deletingDirectory("d"), false, false},
                      DirectoryKeyCase{"n", "", true, false},
                      DirectoryKeyCase{"N", "", true, false},
                      DirectoryKeyCase{"r", recreated("d"), true, true},
                      DirectoryKeyCase{"R", recreated("d"), true, true},
                      DirectoryKeyCase{"c", recreated("d"), true, true},
                      DirectoryKeyCase{"C", recreated("d"), true, true}),
    [](const auto& info) {
      return std::string(info.param.key[0] >= 'a' ? "lower_" : "upper_") + info.param.key;
    });

// ---- Keys that only repeat the question -----------------------------------

struct OtherKey {
  std::string name;
  std::string bytes;  // what the terminal sends
  std::string echo;   // what the terminal shows for it
};

const std::vector<OtherKey> kOtherKeys = {
    {"x", "x", "x"},
    {"space", " ", " "},
    {"digit", "5", "5"},
    {"enter", "\r", ""},
    {"ctrl_c", "\x03", "^C"},
    {"up_arrow", "\x1b[A", ""},         // ends in A: must not answer Always
    {"right_arrow", "\x1b[C", ""},      // ends in C: must not answer always recreate
    {"app_right_arrow", "\x1bOC", ""},  // the same key in application mode
    {"delete_key", "\x1b[3~", ""},
    {"escape", "\x1b", ""},
    {"e_acute", "\xc3\xa9", "\xc3\xa9"},  // one UTF-8 character, one key
};

void PrintTo(const OtherKey& k, std::ostream* os) { *os << k.name << " " << quoted(k.bytes); }

class RepeatingKey : public Prompts, public ::testing::WithParamInterface<OtherKey> {};

TEST_P(RepeatingKey, RepeatsTheFileQuestion) {
  deletedLocally({"f", "g"});
  RunResult result = onTerminal({}, {{deleteQuestion("f"), GetParam().bytes},
                                     {deleteQuestion("f"), "n"},
                                     {deleteQuestion("g"), "n"}});
  expectTerminalRun(result, deleteQuestion("f") + GetParam().echo + "\n" + deleteQuestion("f") +
                                "n\n" + deleteQuestion("g") + "n\n");
  EXPECT_TRUE(remote.exists("f"));
  EXPECT_TRUE(remote.exists("g"));
}

TEST_P(RepeatingKey, RepeatsTheDirectoryQuestion) {
  deletedLocally({}, {"d", "e"});
  RunResult result = onTerminal({"-r"}, {{directoryQuestion("d"), GetParam().bytes},
                                         {directoryQuestion("d"), "n"},
                                         {directoryQuestion("e"), "n"}});
  expectTerminalRun(result, directoryQuestion("d") + GetParam().echo + "\n" +
                                directoryQuestion("d") + "n\n" + directoryQuestion("e") + "n\n");
  EXPECT_TRUE(remote.exists("d/x"));
  EXPECT_FALSE(local.exists("d"));
}

INSTANTIATE_TEST_SUITE_P(Keys, RepeatingKey, ::testing::ValuesIn(kOtherKeys),
                         [](const auto& info) { return info.param.name; });

// ---- Standing answers -------------------------------------------------------

TEST_F(Prompts, AlwaysAnswersTheLaterDeleteQuestionsOfTheRun) {
  deletedLocally({"f", "g", "h"});
  RunResult result = onTerminal({}, {{deleteQuestion("f"), "A"}});
  expectTerminalRun(result,
                    deleteQuestion("f") + "A\n" + deleting("f") + deleting("g") + deleting("h"));
  EXPECT_EQ(remote.snapshot({.skipToolFiles = true}), "");
}

TEST_F(Prompts, AlwaysAnswersTheLaterOverwriteQuestionsOfTheRun) {
  for (const char* name : {"f", "g"}) {
    local.write(name, "local copy");
    remote.write(name, "server copy");
  }
  RunResult result = onTerminal({}, {{overwriteQuestion("f"), "a"}});
  expectTerminalRun(result, overwriteQuestion("f") + "a\nUpdating file 'f' on server\n" +
                                "Updating file 'g' on server\n");
  EXPECT_EQ(remote.read("g"), "local copy");
}

TEST_F(Prompts, AlwaysDeleteAnswersTheLaterDirectoryQuestions) {
  deletedLocally({}, {"d", "e"});
  RunResult result = onTerminal({"-r"}, {{directoryQuestion("d"), "a"}});
  expectTerminalRun(
      result, directoryQuestion("d") + "a\n" + deletingDirectory("d") + deletingDirectory("e"));
  EXPECT_EQ(remote.snapshot({.skipToolFiles = true}), "");
}

TEST_F(Prompts, AlwaysRecreateAnswersTheLaterDirectoryQuestions) {
  deletedLocally({}, {"d", "e"});
  RunResult result = onTerminal({"-r"}, {{directoryQuestion("d"), "C"}});
  expectTerminalRun(result, directoryQuestion("d") + "C\n" + recreated("d") + recreated("e"));
  EXPECT_EQ(local.read("e/x"), "x in e");
}

TEST_F(Prompts, AlwaysForOneKindStillAsksTheOtherKinds) {
  deletedLocally({"f"}, {"d"});
  RunResult result =
      onTerminal({"-r"}, {{deleteQuestion("f"), "a"}, {directoryQuestion("d"), "n"}});
  expectTerminalRun(result,
                    deleteQuestion("f") + "a\n" + deleting("f") + directoryQuestion("d") + "n\n");
}

// ---- Switches ---------------------------------------------------------------

TEST_F(Prompts, YesSwitchAsksNothing) {
  local.write("stays", "s");  // a side that lists as empty stops -y from deleting
  deletedLocally({"f", "g"}, {"d"});
  RunResult result = onTerminal({"-r", "-y"}, {});
  expectTerminalRun(result, deleting("f") + deleting("g") + deletingDirectory("d"));
  EXPECT_EQ(remote.snapshot({.skipToolFiles = true}), "stays:s\n");
}

TEST_F(Prompts, RecreateSwitchRecreatesWithoutAskingButFileQuestionsRemain) {
  deletedLocally({"f"}, {"d", "e"});
  RunResult result = onTerminal({"-r", "-c"}, {{deleteQuestion("f"), "n"}});
  expectTerminalRun(result, deleteQuestion("f") + "n\n" + recreated("d") + recreated("e"));
  EXPECT_EQ(local.read("d/x"), "x in d");
}

TEST_F(Prompts, YesAndRecreateSwitchesTogetherDelete) {
  deletedLocally({}, {"d"});
  RunResult result = onTerminal({"-r", "-y", "-c"}, {});
  expectTerminalRun(result, deletingDirectory("d"));
  EXPECT_FALSE(remote.exists("d"));
}

// ---- The terminal -----------------------------------------------------------

TEST_F(Prompts, TerminateWhileWaitingRestoresTheTerminal) {
  deletedLocally({"f", "g"});
  RunResult result = onTerminal({}, {{deleteQuestion("f"), "", SIGTERM}});
  EXPECT_TRUE(result.exitedWith(143)) << result.describe();
  EXPECT_TRUE(result.terminalRestored()) << "the terminal was left in raw mode";
  EXPECT_TRUE(result.output.starts_with(start() + deleteQuestion("f"))) << result.describe();
  EXPECT_EQ(result.output.find("Deleting"), std::string::npos) << result.describe();
  EXPECT_EQ(result.output.find(deleteQuestion("g")), std::string::npos) << result.describe();
  EXPECT_TRUE(remote.exists("f"));
}

TEST_F(Prompts, KeysTypedBeforeTheQuestionAreDiscarded) {
  deletedLocally({"f"});
  RunResult result = onTerminal({}, {{"", "y"}, {deleteQuestion("f"), "n"}});
  // The terminal itself echoes the early key, wherever it lands in the output.
  EXPECT_NE(result.output.find(deleteQuestion("f") + "n\n"), std::string::npos)
      << result.describe();
  EXPECT_EQ(result.output.find("Deleting"), std::string::npos) << result.describe();
  EXPECT_TRUE(result.exitedWith(0)) << result.describe();
  EXPECT_TRUE(remote.exists("f"));
}

// ---- Through a pipe ---------------------------------------------------------

TEST_F(Prompts, PipedAnswersSkipLineBreaks) {
  deletedLocally({"f", "g"});
  RunResult result = runToolPiped(arguments({}), local.path(), "y\nn\n");
  expectPipedRun(result, deleteQuestion("f") + "y\n" + deleting("f") + deleteQuestion("g") + "n\n");
  EXPECT_FALSE(remote.exists("f"));
  EXPECT_TRUE(remote.exists("g"));
}

TEST_F(Prompts, PipedOtherKeyRepeatsTheQuestion) {
  deletedLocally({"f"});
  RunResult result = runToolPiped(arguments({}), local.path(), "x\r\nY");
  expectPipedRun(result, deleteQuestion("f") + "x\n" + deleteQuestion("f") + "Y\n" + deleting("f"));
}

TEST_F(Prompts, EndOfPipedInputAnswersNoAndTheQuestionsComeBack) {
  deletedLocally({"f", "g"}, {"d"});
  RunResult result = runToolPiped(arguments({"-r"}), local.path(), "");
  expectPipedRun(result, deleteQuestion("f") + "\n" + deleteQuestion("g") + "\n" +
                             directoryQuestion("d") + "\n");
  EXPECT_EQ(remote.snapshot({.skipToolFiles = true}),
            "d/\nd/x:x in d\nf:content of f\ng:content of g\n");

  RunResult again = runToolPiped(arguments({"-r"}), local.path(), "yyy");
  expectPipedRun(again, deleteQuestion("f") + "y\n" + deleting("f") + deleteQuestion("g") + "y\n" +
                            deleting("g") + directoryQuestion("d") + "y\n" +
                            deletingDirectory("d"));
}

TEST_F(Prompts, InputFromDevNullAnswersNo) {
  deletedLocally({"f"});
  RunResult result = runToolPiped(arguments({}), local.path());
  expectPipedRun(result, deleteQuestion("f") + "\n");
  EXPECT_TRUE(remote.exists("f"));
}

TEST_F(Prompts, InputEndingMidwayAnswersTheRestNo) {
  deletedLocally({"f", "g"});
  RunResult result = runToolPiped(arguments({}), local.path(), "x\n");
  expectPipedRun(result, deleteQuestion("f") + "x\n" + deleteQuestion("f") + "\n" +
                             deleteQuestion("g") + "\n");
}

}  // namespace
}  // namespace tandrel::testing
