// What a server says that is easy to misread (listing lines of two readings,
// names ending in CR, links the tool cannot copy or that lead back up, a PWD
// without a path, a listing without times): each case deletes nothing, and
// the run after it warns or is quiet, never failing the same way again.
#include <gtest/gtest.h>
#include <unistd.h>

#include <ctime>
#include <fstream>
#include <functional>
#include <string>

#include "e2e/robust_fixture.h"
#include "e2e/robust_live_run.h"

namespace tandrel::testing {
namespace {

constexpr int64_t kOld = 1700000000;

struct Case {
  const char* name;
  ServerKind kind;
  // Puts the case on both sides; may run the tool to record a first state.
  std::function<void(class ServerReading&)> arrange;
  std::vector<std::string> options;
  // A line both runs print, or "" for none.
  std::string shown;
  // Checks after both runs.
  std::function<void(class ServerReading&)> check;
};

void PrintTo(const Case& row, std::ostream* out) { *out << row.name; }

class ServerReading : public RobustBase, public ::testing::WithParamInterface<Case> {
 public:
  using RobustBase::local;
  using RobustBase::remote;
  // pyftpdlib's faults file (format in pyftpd_server.py).
  void faults(const std::string& json) { std::ofstream(scratch.pathOf("faults.json")) << json; }
  void record(const std::vector<std::string>& options) {
    RunResult first = run(options);
    ASSERT_TRUE(first.exitedWith(0)) << first.describe();
  }
  void symlinkOnServer(const std::string& target, const std::string& name) {
    ASSERT_EQ(symlink(target.c_str(), remote().pathOf(name).c_str()), 0) << name;
  }
  TempTree scratch;
};

const std::string kAmbiguous = "-rw-r--r-- 1 jan 20 1234 Dec 07 20:38 notes.txt";

const Case kCases[] = {
    {"AmbiguousListLine", ServerKind::pyftpdlib,
     [](ServerReading& t) {
       t.faults(R"({"no_mlsx": true})");
       t.local.write("notes.txt", "n", kOld);
       t.local.write("photos/p.jpg", "p", kOld);
       t.record({"-r", "-y"});
       t.remote().remove("notes.txt");
       t.faults(R"({"no_mlsx": true, "list_lines": [")" + kAmbiguous + "\"]}");
     },
     {"-r", "-y"}, "Warning: Can't read the server's listing line '" + kAmbiguous + "'",
     [](ServerReading& t) {
       EXPECT_EQ(t.local.read("notes.txt"), "n");
       EXPECT_EQ(t.local.read("photos/p.jpg"), "p");
       EXPECT_FALSE(t.local.exists("Dec 07 20:38 notes.txt"));
     }},
    {"MlsdWithoutModify", ServerKind::pyftpdlib,
     [](ServerReading& t) {
       t.faults(R"({"mlsx_facts": ["type", "size", "perm", "unique"]})");
       t.remote().write("f.txt", "server", kOld);
     },
     {"-y"}, "", [](ServerReading& t) { EXPECT_EQ(t.local.read("f.txt"), "server"); }},
    {"RecordedFromListThenMlsd", ServerKind::pyftpdlib,
     [](ServerReading& t) {
       // Within the last six months, so that LIST shows the time of day.
       const int64_t recent = (std::time(nullptr) - 7200) / 60 * 60 + 37;
       t.faults(R"({"no_mlsx": true})");
       t.remote().write("f.txt", "server", recent);
       t.record({"-y"});
       t.faults("{}");
       t.local.write("f.txt", "local edit", recent + 86400);
     },
     {"-y", "-f"}, "", [](ServerReading& t) { EXPECT_EQ(t.remote().read("f.txt"), "local edit"); }},
    {"NameEndingInCrOverMlsd", ServerKind::pyftpdlib,
     [](ServerReading& t) { t.remote().write("Icon\r", "i", kOld); }, {"-y"},
     "Error: Skipping 'Icon\\r' on server: its name holds a line break",
     [](ServerReading& t) { EXPECT_FALSE(t.local.exists("Icon")); }},
    {"NameEndingInCrOverList", ServerKind::vsftpd,
     [](ServerReading& t) { t.remote().write("Icon\r", "i", kOld); }, {"-y"},
     "Error: Skipping 'Icon\\r' on server: its name holds a line break",
     [](ServerReading& t) { EXPECT_FALSE(t.local.exists("Icon")); }},
    {"LinkNamedWithArrow", ServerKind::vsftpd,
     [](ServerReading& t) {
       t.remote().write("m", "m", kOld);
       t.remote().write("other", "o", kOld);
       t.symlinkOnServer("m", "l -> m");
     },
     {"-y"}, "Warning: Can't read the server's listing line 'lrwxrwxrwx",
     [](ServerReading& t) {
       // "m" may be what the line stands for: held back like the line.
       EXPECT_EQ(t.local.read("other"), "o");
       EXPECT_FALSE(t.local.exists("l"));
     }},
    {"LinkToNothing", ServerKind::vsftpd,
     [](ServerReading& t) { t.symlinkOnServer("/nowhere", "gone"); }, {"-y"},
     "Warning: Skipping 'gone' on server: symbolic link to nothing",
     [](ServerReading& t) { EXPECT_FALSE(t.local.exists("gone")); }},
    {"LinkOutsideTheTreeListedAsADirectory", ServerKind::pyftpdlib,
     [](ServerReading& t) {
       t.remote().write("outside/o.txt", "o", kOld);
       t.remote().mkdir("site");
       t.symlinkOnServer("../outside", "site/lnk");
       t.record({"-r", "-y", "-s", "site"});
       t.local.remove("lnk");
     },
     {"-r", "-y", "-s", "site"}, "",
     [](ServerReading& t) {
       EXPECT_EQ(t.remote().read("outside/o.txt"), "o");
       EXPECT_FALSE(t.remote().exists("site/lnk"));
     }},
    {"PwdWithoutQuotedPath", ServerKind::pyftpdlib,
     [](ServerReading& t) {
       t.faults(R"({"rules": [{"cmd": "PWD", "times": -1,
                    "reply": "257 /home/u is the current directory."}]})");
       t.remote().write("x.txt", "x", kOld);
       t.local.write("y.txt", "y", kOld);
     },
     {"-y"},
     "\nError: Can't read the server's path of its log-in directory - 257 /home/u is the current "
     "directory.",
     [](ServerReading& t) {
       EXPECT_FALSE(t.local.exists("x.txt"));
       EXPECT_FALSE(t.remote().exists("y.txt"));
     }},
};

// A link up the tree, on each server that shows links in its own way.
Case upLink(ServerKind kind) {
  return {"UpLink", kind,
          [](ServerReading& t) {
            t.remote().write("a/x", "x", kOld);
            t.symlinkOnServer("..", "a/up");
          },
          {"-r", "-y"}, "Warning: Skipping 'up' on server: symbolic link to a directory being synchronized",
          [](ServerReading& t) {
            EXPECT_EQ(t.local.read("a/x"), "x");
            EXPECT_FALSE(t.local.exists("a/up"));
          }};
}

TEST_P(ServerReading, DeletesNothingAndNeverFailsTheSameWayTwice) {
  const Case& row = GetParam();
  faults("{}");
  startServer(row.kind, {.faultsFile = scratch.pathOf("faults.json")});
  row.arrange(*this);
  if (HasFatalFailure()) return;
  for (int again = 0; again < 2; ++again) {
    SCOPED_TRACE(again == 0 ? "the first run" : "the run after it");
    RunResult result = run(row.options);
    const std::string shown = withErasuresApplied(result.rawOutput);
    EXPECT_NE(shown.find(row.shown), std::string::npos) << result.describe();
    EXPECT_EQ(result.errorOutput, "");
    if (again == 0) continue;
    // Nothing left to do but what is shown; no failure but the one meant.
    EXPECT_EQ(shown.find("Deleting"), std::string::npos) << result.describe();
    if (row.shown.find("Error: Can't") == std::string::npos) {
      EXPECT_EQ(shown.find("Error: Can't"), std::string::npos) << result.describe();
    }
    if (row.shown.empty()) {
      EXPECT_TRUE(result.exitedWith(0)) << result.describe();
    }
  }
  row.check(*this);
}

std::vector<Case> allCases() {
  std::vector<Case> cases(std::begin(kCases), std::end(kCases));
  for (ServerKind kind : allServerKinds()) {
    cases.push_back(upLink(kind));
    cases.back().name = kind == ServerKind::pyftpdlib ? "UpLinkPyftpdlib"
                        : kind == ServerKind::vsftpd  ? "UpLinkVsftpd"
                        : kind == ServerKind::pureftpd ? "UpLinkPureftpd"
                                                       : "UpLinkProftpd";
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Cases, ServerReading, ::testing::ValuesIn(allCases()),
                         [](const ::testing::TestParamInfo<Case>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace tandrel::testing
