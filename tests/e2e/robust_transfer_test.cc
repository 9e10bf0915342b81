// Transfers that take their time: the progress line on a terminal (and none
// through a pipe), files past 4 GiB, and transfers that are not complete.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cctype>
#include <string>

#include "e2e/robust_fixture.h"
#include "e2e/robust_live_run.h"

namespace tandrel::testing {
namespace {

constexpr int64_t kOld = 1700000000;

// ---- Progress ---------------------------------------------------------------------------

// About a second and a half per file: the status shows after a second.
constexpr long kSlowRate = 512 * 1024;
constexpr size_t kSlowSize = 768 * 1024;
const std::string kSlowSizeText = "768.0 KiB";

// The texts a terminal showed between two erasures of the current line.
std::vector<std::string> statusTexts(const std::string& raw) {
  static const std::string kErase = "\r\033[K";
  std::vector<std::string> texts;
  for (size_t at = raw.find(kErase); at != std::string::npos;) {
    size_t from = at + kErase.size();
    size_t next = raw.find(kErase, from);
    size_t lineEnd = raw.find('\n', from);
    size_t end = std::min(next, lineEnd);
    std::string text = raw.substr(from, end == std::string::npos ? std::string::npos : end - from);
    // What follows the last erasure before a line is that line, not a status.
    if (next != std::string::npos && next <= lineEnd && !text.empty()) texts.push_back(text);
    at = next;
  }
  return texts;
}

// "  600.0 KiB of 768.0 KiB, 512.0 KiB/s, 0:00 left": done, total, rate, time left.
bool isStatusText(const std::string& text) {
  size_t at = 0;
  auto literal = [&](const std::string& what) {
    if (text.compare(at, what.size(), what) != 0) return false;
    at += what.size();
    return true;
  };
  auto amount = [&] {
    size_t digits = at;
    while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at]))) ++at;
    if (at == digits) return false;
    if (at < text.size() && text[at] == '.') {
      ++at;
      if (at >= text.size() || !std::isdigit(static_cast<unsigned char>(text[at]))) return false;
      ++at;
    }
    for (const char* unit : {" B", " KiB", " MiB"})
      if (literal(unit)) return true;
    return false;
  };
  auto number = [&](size_t minimum) {
    size_t digits = at;
    while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at]))) ++at;
    return at - digits >= minimum;
  };
  return literal("  ") && amount() && literal(" of " + kSlowSizeText + ", ") && amount() && literal("/s, ") &&
         number(1) && literal(":") && number(2) && literal(" left") && at == text.size();
}

using Progress = RobustTest;

TEST_P(Progress, OnATerminalALongTransferShowsAStatusThatLeavesNoTrace) {
  startServer({.bytesPerSecond = kSlowRate});
  local.write("up", randomBytes(kSlowSize, 1), kOld);
  remote().write("down", randomBytes(kSlowSize, 2), kOld);
  RunResult result = run();
  // On screen, with the erasures done, only the specified lines remain.
  expectOutput(result, creating("down", "local") + creating("up", "server"));
  EXPECT_TRUE(result.exitedWith(0)) << result.describe();
  const std::vector<std::string> texts = statusTexts(result.rawOutput);
  // Each transfer lasts long enough to show its progress at least once.
  EXPECT_GE(texts.size(), 2u) << quoted(result.rawOutput);
  for (const std::string& text : texts) {
    EXPECT_TRUE(isStatusText(text)) << quoted(text);
    EXPECT_LT(text.size(), 80u) << "a status line must fit on one terminal line";
  }
  // Nothing of it lingers in the lines themselves.
  EXPECT_EQ(withErasuresApplied(result.rawOutput).find(" left"), std::string::npos);
  EXPECT_EQ(local.read("down"), remote().read("down"));
  EXPECT_EQ(local.read("up"), remote().read("up"));
}

TEST_P(Progress, ThroughAPipeNothingButTheLines) {
  startServer({.bytesPerSecond = kSlowRate});
  local.write("up", randomBytes(kSlowSize, 1), kOld);
  RunResult result = runToolPiped(arguments(), "");
  EXPECT_EQ(result.output, startLines() + creating("up", "server"))
      << result.describe();
  EXPECT_EQ(result.output.find('\r'), std::string::npos);
  EXPECT_EQ(result.output.find('\033'), std::string::npos);
  EXPECT_EQ(result.errorOutput, "");
  EXPECT_TRUE(result.exitedWith(0)) << result.describe();
}

TEST_P(Progress, AShortTransferShowsNone) {
  startServer();
  local.write("small", "small", kOld);
  RunResult result = run();
  expectOutput(result, creating("small", "server"));
  EXPECT_EQ(result.rawOutput.find('\033'), std::string::npos) << quoted(result.rawOutput);
}

INSTANTIATE_TEST_SUITE_P(Servers, Progress,
                         ::testing::Values(ServerKind::pyftpdlib, ServerKind::vsftpd), kindName);

// ---- Past 4 GiB -----------------------------------------------------------------------------

constexpr off_t kFourGiB = off_t{4} << 30;
constexpr off_t kHugeSize = kFourGiB + (off_t{1} << 20);

// A sparse file of kHugeSize bytes with marks at the start, across the 4 GiB
// boundary, and at the end: a 32-bit size or offset anywhere would move or
// lose one of them.
void makeHugeFile(const std::string& path) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0) << path;
  ASSERT_EQ(ftruncate(fd, kHugeSize), 0);
  const std::string head = "start of the huge file";
  const std::string boundary = randomBytes(4096, 3);
  const std::string tail = randomBytes(4096, 4) + "end of the huge file";
  ASSERT_EQ(pwrite(fd, head.data(), head.size(), 0), static_cast<ssize_t>(head.size()));
  ASSERT_EQ(pwrite(fd, boundary.data(), boundary.size(), kFourGiB - 2048),
            static_cast<ssize_t>(boundary.size()));
  ASSERT_EQ(pwrite(fd, tail.data(), tail.size(), kHugeSize - static_cast<off_t>(tail.size())),
            static_cast<ssize_t>(tail.size()));
  close(fd);
}

// The size, and the bytes around the marks.
std::string hugeFileMarks(const std::string& path) {
  FileEnds ends = fileEnds(path, 1 << 20);
  std::string marks = std::to_string(ends.size) + "\n";
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return marks + "(can't open)";
  std::string boundary(8192, '\0');
  ssize_t got = pread(fd, boundary.data(), boundary.size(), kFourGiB - 4096);
  close(fd);
  boundary.resize(got > 0 ? static_cast<size_t>(got) : 0);
  // A digest keeps a failure message short.
  auto digest = [](const std::string& bytes) {
    uint64_t hash = 1469598103934665603ull;
    for (unsigned char c : bytes) hash = (hash ^ c) * 1099511628211ull;
    return std::to_string(hash);
  };
  return marks + "head " + digest(ends.head) + "\nboundary " + digest(boundary) + "\ntail " +
         digest(ends.tail) + "\n";
}

using LargeFile = RobustTest;

TEST_P(LargeFile, OverFourGiBUploadsAndDownloadsIntact) {
  startServer();
  makeHugeFile(local.pathOf("huge"));
  const std::string expected = hugeFileMarks(local.pathOf("huge"));
  ASSERT_EQ(expected.substr(0, expected.find('\n')), std::to_string(kHugeSize));

  const auto start = std::chrono::steady_clock::now();
  RunResult up = runPiped(toolBinary(), arguments(), std::nullopt, "", 120);
  EXPECT_EQ(up.output, startLines() + creating("huge", "server")) << up.describe();
  EXPECT_TRUE(up.exitedWith(0)) << up.describe();
  EXPECT_EQ(hugeFileMarks(ftp().root() + "/huge"), expected);

  // Into a second, empty local directory.
  TempTree other;
  RunResult down = runPiped(toolBinary(),
                            {"-h", ftp().hostArgument(), "-u", ftp().user(), "-p",
                             ftp().password(), "-l", other.path()},
                            std::nullopt, "", 120);
  EXPECT_TRUE(down.exitedWith(0)) << down.describe();
  EXPECT_EQ(hugeFileMarks(other.pathOf("huge")), expected);
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
                           std::chrono::steady_clock::now() - start)
                           .count();
  RecordProperty("seconds", static_cast<int>(seconds));
  // What this machine needed, for the record.
  std::printf("[ LargeFile ] %s: 2 x %lld bytes in %lld s\n", ftp().name().c_str(),
              static_cast<long long>(kHugeSize), static_cast<long long>(seconds));
}

INSTANTIATE_TEST_SUITE_P(Servers, LargeFile, ::testing::Values(ServerKind::vsftpd), kindName);

// ---- Not complete -------------------------------------------------------------------------

// The fault file while `failing` runs fail, each with an error line that begins with `error`
// and leaves `after` as the server's "a".
struct FaultCase { const char *name, *faults; int failing; const char *error, *after; };
class FaultyUpload : public RobustBase, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(FaultyUpload, NeverLeavesAShortCopyAndTheNextRunFinishes) {
  TempTree scratch;
  startServer(ServerKind::pyftpdlib, {.faultsFile = scratch.pathOf("faults.json")});
  local.write("a", "old", kOld);
  EXPECT_TRUE(run().exitedWith(0));
  local.write("a", "new copy", kOld + 60);
  scratch.write("faults.json", GetParam().faults);
  for (int i = 0; i < GetParam().failing; ++i) {
    expectOutput(run({"-y"}), updating("a", "server") +
                                  lineStartingWith("Error: Can't update server file 'a' - " +
                                                   std::string(GetParam().error)));
    EXPECT_EQ(remote().read("a"), GetParam().after);
    expectNoLeftovers();
  }
  if (GetParam().failing > 0) scratch.write("faults.json", "{}");
  // Nothing the failures recorded makes the server's copy look newer.
  expectOutput(run({"-y", "-f"}), updating("a", "server"));
  EXPECT_EQ(remote().read("a"), "new copy");
  expectQuietRerun({"-y"});
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultyUpload, ::testing::Values(
    FaultCase{"Truncated", R"({"rules": [{"cmd": "STOR", "action": "truncate", "bytes": 3}]})", 1,
              "The server kept 3 of the 8 bytes sent", "new"},
    FaultCase{"ResetThenRenameAlwaysRefused", R"({"rules": [{"cmd": "STOR", "action": "reset",
              "bytes": 2}, {"cmd": "RNTO", "times": -1}]})", 2, "", "old"},
    FaultCase{"RenameOntoTheNameRefusedTwice", R"({"rules": [{"cmd": "RNTO", "match": "/a$",
              "times": 2}]})", 1, "550 Injected failure.", "old"},
    FaultCase{"RenameOntoTheNameRefusedOnce", R"({"rules": [{"cmd": "RNTO", "match": "/a$"}]})",
              0, "", ""}), [](const auto& info) { return std::string(info.param.name); });

using NotComplete = RobustBase;

TEST_F(NotComplete, SourcesChangedBeforeTheirCopyEndedAreCopiedByTheNextRun) {
  ServerOptions slow;
  slow.bytesPerSecond = kSlowRate;
  startServer(ServerKind::pyftpdlib, slow);
  local.write("a", randomBytes(kSlowSize, 1), kOld);
  remote().write("b", "server b", kOld);
  local.write("c", "local c", kOld);
  LiveRun live(arguments(), "");
  ASSERT_TRUE(live.waitFor(creating("a", "server"))) << live.output();
  remote().write("b", "SERVER B", kOld + 60);
  local.write("c", "LOCAL C", kOld + 60);
  const std::string changed = "' - The file changed while it was copied\n";
  expectOutput(live.finish(), creating("a", "server") + creating("b", "local") +
                                  "Error: Can't update local file 'b" + changed +
                                  creating("c", "server") + "Error: Can't update server file 'c" +
                                  changed);
  EXPECT_FALSE(local.exists("b") || remote().exists("c"));
  expectNoLeftovers();
  expectOutput(run(), creating("b", "local") + creating("c", "server"));
  expectQuietRerun();
}

TEST_F(NotComplete, TwoRunsOnOneServerDirectoryUseTemporaryNamesOfTheirOwn) {
  TempTree scratch, other;
  scratch.write("faults.json", R"({"rules": [{"cmd": "RNFR", "action": "delay", "times": -1}]})");
  startServer(ServerKind::pyftpdlib,
              {.faultsFile = scratch.pathOf("faults.json"), .threaded = true});
  local.write("a", "from the first run", kOld);
  other.write("b", "from the second run", kOld);
  LiveRun first(arguments(), "");
  ASSERT_TRUE(first.waitFor(creating("a", "server"))) << first.output();
  std::vector<std::string> second = arguments();
  second.back() = other.path();
  EXPECT_TRUE(runToolPiped(second, "").exitedWith(0));
  EXPECT_TRUE(first.finish().exitedWith(0));
  EXPECT_EQ(remote().snapshot({.skipToolFiles = true}),
            "a:from the first run\nb:from the second run\n");
  expectNoLeftovers();
}

TEST_F(NotComplete, ADownloadPastTheFileSizeLimitFailsAndTheRunGoesOn) {
  startServer(ServerKind::pyftpdlib);
  remote().write("big", randomBytes(256 * 1024, 5), kOld);
  remote().write("small", "small", kOld);
  std::vector<std::string> limited = arguments();
  limited.insert(limited.begin(), {"--fsize=65536", toolBinary()});
  RunResult result = runPiped("/usr/bin/prlimit", limited, std::nullopt, "", 60);
  EXPECT_EQ(result.output, startLines() + creating("big", "local") +
                               "Error: Can't update local file 'big' - File too large\n" +
                               creating("small", "local"));
  EXPECT_TRUE(result.exitedWith(1)) << result.describe();
  expectNoLeftovers();
}

TEST_F(NotComplete, AnUploadTheServerStoresUnderAnotherNameFails) {
  startServer(ServerKind::pureftpd);
  local.write("trail.txt ", "trailing space", kOld);
  expectOutput(run(), creating("trail.txt ", "server") +
                          "Error: Can't update server file 'trail.txt ' - The server stored "
                          "the file under another name, or not at all\n");
  EXPECT_EQ(local.snapshot({.skipToolFiles = true}), "trail.txt :trailing space\n");
  EXPECT_EQ(recordedNames(local.path(), "zztandrel.zzserverdb"), "");
}

}  // namespace
}  // namespace tandrel::testing
