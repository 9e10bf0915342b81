// Runs cut off between server commands, runs lost on the way back up, and
// directories moved with their state files: nothing may cost the only copy of
// a file. The rows replay each such history on pyftpdlib (whose fault file can
// refuse renames onto taken names, refuse one command, or SIGKILL the client
// when a command arrives); the sweep kills one history once after every
// server command it sends and checks what the next run makes of it.
#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <set>

#include "e2e/robust_fixture.h"

namespace tandrel::testing {
namespace {

namespace fs = std::filesystem;

constexpr int64_t kOld = 1700000000;
const std::string kRefuseRenameOver = R"("no_rename_over": true)";

// The rows' histories drive the fixture from outside.
class CrashSafety : public RobustBase {
 public:
  using RobustBase::local;
  using RobustBase::remote;
  void start() { startServer(ServerKind::pyftpdlib, {.faultsFile = scratch.pathOf("faults.json")}); }
  // The fault file: `settings` ("key": value pairs) and `rules` (a JSON list).
  void faults(const std::string& settings, const std::string& rules = "[]") {
    scratch.write("faults.json", "{" + settings + (settings.empty() ? "" : ", ") +
                                     "\"rules\": " + rules + "}");
  }
  RunResult runPipedWith(const std::vector<std::string>& options) {
    return runToolPiped(arguments(options), local.path(), "");
  }
  std::string both(const std::string& path) {
    return local.read(path) + "|" + remote().read(path);
  }
  TempTree scratch;
};

struct Row {
  const char* name;
  std::function<void(CrashSafety&)> history;  // ends with the run that breaks
  std::vector<std::string> next;              // the options of the run after it
  std::function<void(CrashSafety&)> check;
};

class Reproduction : public CrashSafety, public ::testing::WithParamInterface<Row> {};

TEST_P(Reproduction, LosesNothing) {
  start();
  GetParam().history(*this);
  RunResult next = runPipedWith(GetParam().next);
  EXPECT_FALSE(next.signal) << next.describe();
  GetParam().check(*this);
  EXPECT_EQ(local.snapshot({.skipToolFiles = true}), remote().snapshot({.skipToolFiles = true}));
  expectNoLeftovers();
}

INSTANTIATE_TEST_SUITE_P(Histories, Reproduction, ::testing::Values(
    Row{"ReplacementKilledBetweenItsRenames",
        [](CrashSafety& t) {
          t.faults(kRefuseRenameOver);
          t.local.write("f.txt", "old", kOld);
          ASSERT_TRUE(t.runPipedWith({"-y"}).exitedWith(0));
          t.local.write("f.txt", "new", kOld + 60);
          // The third RNFR is the one that would bring the new copy in.
          t.faults(kRefuseRenameOver, R"([{"cmd": "RNFR", "after": 2, "action": "kill"}])");
          EXPECT_EQ(t.runPipedWith({"-y"}).signal, 9);
          ASSERT_FALSE(t.remote().exists("f.txt"));
          t.faults(kRefuseRenameOver);
        },
        {"-y", "-f"},
        [](CrashSafety& t) { EXPECT_EQ(t.both("f.txt"), "new|new"); }},
    Row{"RunLostOnTheWayBackAfterADownload",
        [](CrashSafety& t) {
          t.remote().mkdir("sub");
          t.remote().write("sub/c.txt", "v1", kOld);
          ASSERT_TRUE(t.runPipedWith({"-r", "-y"}).exitedWith(0));
          t.remote().write("sub/c.txt", "v2", kOld + 60);
          t.faults("", R"([{"cmd": "CWD", "match": "^/$", "after": 1, "times": -1}])");
          // The server is left by the tracked path alone, so a refused CWD back
          // may no longer cost the run its place; lost or not, it must have
          // recorded all it did.
          t.runPipedWith({"-r", "-y"});
          t.faults("");
          t.remote().write("sub/c.txt", "v3", kOld + 120);
        },
        {"-r", "-y"},
        [](CrashSafety& t) { EXPECT_EQ(t.both("sub/c.txt"), "v3|v3"); }},
    Row{"DirectoryMovedOntoOneTheServerHas",
        [](CrashSafety& t) {
          t.local.write("docs/a.txt", "a", kOld);
          t.local.write("docs/b.txt", "b", kOld);
          t.local.write("old/keep.txt", "k", kOld);
          ASSERT_TRUE(t.runPipedWith({"-r", "-y"}).exitedWith(0));
          t.remote().write("old/docs/c.txt", "c", kOld + 60);
          fs::rename(t.local.pathOf("docs"), t.local.pathOf("old/docs"));
        },
        {"-r", "-y"},
        [](CrashSafety& t) {
          for (const char* name : {"a", "b", "c"})
            EXPECT_EQ(t.both(std::string("old/docs/") + name + ".txt"), std::string(name) + "|" + name);
          EXPECT_FALSE(t.remote().exists("docs"));
        }},
    Row{"TemporaryLookingNameIsAFileLikeAny",
        [](CrashSafety& t) { t.local.write("zztandrel.zztemplate.txt", "mine", kOld); },
        {"-y"},
        [](CrashSafety& t) { EXPECT_EQ(t.both("zztandrel.zztemplate.txt"), "mine|mine"); }}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- The crash-point sweep ------------------------------------------------------

// Every file's content on both sides, by path ("L:path" and "S:path").
std::map<std::string, std::string> contents(const Tree& localTree, const Tree& serverTree) {
  std::map<std::string, std::string> all;
  for (auto [prefix, tree] : {std::pair{"L:", &localTree}, std::pair{"S:", &serverTree}}) {
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(tree->path(), error);
         it != fs::recursive_directory_iterator(); it.increment(error)) {
      const std::string name = it->path().filename().string();
      if (name.starts_with("zztandrel.") || !it->is_regular_file()) continue;
      all[prefix + fs::relative(it->path(), tree->path()).string()] = tree->read(
          fs::relative(it->path(), tree->path()).string());
    }
  }
  return all;
}

struct SweepCase {
  const char* name;
  std::function<void(CrashSafety&)> prepare;  // from empty trees to the start
  std::vector<std::string> options;
  std::string settings;  // of the fault file, for the swept run and the next
};

class CrashSweep : public CrashSafety, public ::testing::WithParamInterface<SweepCase> {
 protected:
  void fresh() {
    std::error_code error;
    for (const Tree* tree : {static_cast<const Tree*>(&local)}) {
      for (const auto& item : fs::directory_iterator(tree->path(), error)) fs::remove_all(item, error);
    }
    for (const auto& item : fs::directory_iterator(ftp().root(), error)) fs::remove_all(item, error);
    faults("");
    GetParam().prepare(*this);
    faults(GetParam().settings);
  }
  int commandsLogged() {
    const std::string log = ftp().log();
    int count = 0;
    for (size_t at = log.find("injected none"); at != std::string::npos;
         at = log.find("injected none", at + 1)) {
      ++count;
    }
    return count;
  }
};

TEST_P(CrashSweep, NoCommandIsAPointOfLoss) {
  start();
  const SweepCase& sweep = GetParam();
  fresh();
  const std::string withSettings = sweep.settings + (sweep.settings.empty() ? "" : ", ");
  scratch.write("faults.json", "{" + withSettings +
                                   R"("rules": [{"cmd": "*", "action": "none", "times": -1}]})");
  const int before = commandsLogged();
  ASSERT_FALSE(runPipedWith(sweep.options).signal);
  const int commands = commandsLogged() - before;
  ASSERT_GT(commands, 3);
  int swept = 0, lost = 0;
  for (int after = 1; after < commands; ++after) {
    fresh();
    // Every version of every file the history holds at the start.
    std::set<std::string> versions;
    for (const auto& [path, data] : contents(local, remote())) versions.insert(path.substr(2) + "=" + data);
    faults(sweep.settings,
           R"([{"cmd": "*", "action": "kill", "after": )" + std::to_string(after) + "}]");
    runPipedWith(sweep.options);
    faults(sweep.settings);
    RunResult next = runPipedWith(sweep.options);
    ++swept;
    // Trees agree, and every path the start held on either side still holds
    // one of its versions, unless the history deletes it.
    const auto endState = contents(local, remote());
    std::set<std::string> paths;
    for (const auto& [path, data] : endState) {
      paths.insert(path.substr(2));
      if (!versions.count(path.substr(2) + "=" + data)) {
        ADD_FAILURE() << "kill after command " << after << ": " << path << " holds '" << data << "'";
      }
    }
    for (const std::string& version : versions) {
      const std::string path = version.substr(0, version.find('='));
      if (!paths.count(path) && path.find("gone") == std::string::npos) {
        ++lost;
        ADD_FAILURE() << "kill after command " << after << ": " << path << " lost on both sides\n"
                      << next.describe();
      }
    }
    EXPECT_EQ(local.snapshot({.skipToolFiles = true}), remote().snapshot({.skipToolFiles = true}))
        << "kill after command " << after << "\n" << next.describe();
  }
  std::printf("[ CrashSweep ] %s: %d crash points swept, %d copies lost\n", sweep.name, swept, lost);
}

INSTANTIATE_TEST_SUITE_P(Histories, CrashSweep, ::testing::Values(
    SweepCase{"FirstSync",
              [](CrashSafety& t) {
                t.local.write("a", "local a", kOld);
                t.local.write("sub/b", "local b", kOld);
                t.remote().write("c", "server c", kOld);
                t.remote().write("sub/d", "server d", kOld);
                t.local.write("both", "local both", kOld);
                t.remote().write("both", "server both", kOld);
              },
              {"-r", "-y"}, ""},
    SweepCase{"UpdatesDeletionsAndARefusedRename",
              [](CrashSafety& t) {
                t.local.write("a", "a1", kOld);
                t.local.write("gone1", "g1", kOld);
                t.local.write("sub/gone2", "g2", kOld);
                t.local.write("sub/c", "c1", kOld);
                ASSERT_TRUE(t.runPipedWith({"-r", "-y"}).exitedWith(0));
                t.local.write("a", "a2", kOld + 60);
                // Newer than the upload that the server recorded.
                t.remote().write("sub/c", "c2", std::time(nullptr) + 120);
                t.local.remove("gone1");
                t.remote().remove("sub/gone2");
              },
              {"-r", "-y"}, kRefuseRenameOver},
    SweepCase{"DirectoryRecreated",
              [](CrashSafety& t) {
                t.local.write("d/x", "x", kOld);
                t.local.write("d/y", "y", kOld);
                ASSERT_TRUE(t.runPipedWith({"-r", "-y"}).exitedWith(0));
                t.remote().remove("d");
              },
              {"-r", "-c"}, ""}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tandrel::testing
