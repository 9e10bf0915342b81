#include "support/sync_fixture.h"

#include <sys/stat.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace tandrel::testing {

namespace fs = std::filesystem;

namespace {

// Marks the end of an expected line whose rest is not known in advance.
constexpr char kRestOfLine = '\x01';

std::string readBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) {
      lines.push_back(text.substr(at));
      break;
    }
    lines.push_back(text.substr(at, end + 1 - at));
    at = end + 1;
  }
  return lines;
}

bool lineMatches(const std::string& expected, const std::string& actual) {
  size_t marker = expected.find(kRestOfLine);
  if (marker == std::string::npos) return expected == actual;
  return actual.compare(0, marker, expected, 0, marker) == 0 && !actual.empty() &&
         actual.back() == '\n';
}


uint32_t little32(const std::string& bytes, size_t at) {
  return static_cast<uint32_t>(static_cast<unsigned char>(bytes[at])) |
         static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 8 |
         static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 2])) << 16 |
         static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 3])) << 24;
}

// The records of a database file in the notation of localRecords().
std::string describeDatabase(const std::string& bytes) {
  static const std::string kMagic = "TANDRELDATABASE";
  if (bytes.compare(0, kMagic.size(), kMagic) != 0) return "(damaged)";
  size_t at = kMagic.size();
  std::string text;
  for (;;) {
    if (at + 2 > bytes.size()) return "(damaged)";
    size_t length = static_cast<unsigned char>(bytes[at]) |
                    static_cast<size_t>(static_cast<unsigned char>(bytes[at + 1])) << 8;
    at += 2;
    if (length == 0) break;
    if (at + length + 12 > bytes.size()) return "(damaged)";
    std::string name = bytes.substr(at, length);
    at += length;
    bool zeroTime = little32(bytes, at) == 0 && little32(bytes, at + 4) == 0;
    uint32_t isDirectory = little32(bytes, at + 8);
    at += 12;
    if (!text.empty()) text += " ";
    text += name;
    if (isDirectory == 1) {
      text += "/";
    } else if (isDirectory != 0) {
      return "(damaged)";
    } else if (zeroTime) {
      text += "(0)";
    }
  }
  return at == bytes.size() ? text : "(damaged)";
}

std::string question(const std::string& format, const std::string& name, const std::string& side) {
  std::string text = format;
  size_t first = text.find("%s");
  text.replace(first, 2, name);
  size_t second = text.find("%s", first + name.size());
  if (second != std::string::npos) text.replace(second, 2, side);
  return text;
}

std::string otherSide(const std::string& side) { return side == "local" ? "server" : "local"; }

}  // namespace

std::map<ServerKind, std::unique_ptr<FtpServer>> SyncTest::servers_;
int SyncTest::nextDirectory_ = 0;

std::string existsQuestion(const std::string& name, const std::string& side) {
  return question("File '%s' exists on %s, do you want to overwrite? Y(es)/N(o)/A(lways):", name,
                  side);
}

std::string changedQuestion(const std::string& name, const std::string& side) {
  return question(
      "File '%s' on %s is changed, do you want to overwrite? Y(es)/N(o)/A(lways):", name, side);
}

std::string deleteQuestion(const std::string& name, const std::string& side) {
  return question("Do you want to delete '%s' on %s ? Y(es)/N(o)/A(lways):", name, side);
}

std::string stillDeleteQuestion(const std::string& name, const std::string& side) {
  return question(
      "File '%s' is new or updated on %s, do you still want to delete? Y(es)/N(o)/A(lways):", name,
      side);
}

std::string createDirectoryQuestion(const std::string& name, const std::string& side) {
  return (side == "server" ? "Server" : "Local") + std::string(" directory '") + name +
         "' does not exists, do you want to create? Y(es)/N(o)/A(lways):";
}

std::string deleteDirectoryQuestion(const std::string& name, const std::string& side) {
  return "Do you want to delete directory '" + name + "' on " + side +
         "?\nY(es)/N(o)/A(lways delete)/R(ecreate on '" + otherSide(side) +
         "')/(always re)C(reate):";
}

std::string creating(const std::string& name, const std::string& side) {
  return "Creating file '" + name + "' on " + side + "\n";
}

std::string updating(const std::string& name, const std::string& side) {
  return "Updating file '" + name + "' on " + side + "\n";
}

std::string deleting(const std::string& name, const std::string& side) {
  return "Deleting file '" + name + "' on " + side + "\n";
}

std::string deletingDirectory(const std::string& name, const std::string& side) {
  return "Deleting directory '" + name + "' on " + side + "\n";
}

std::string entering(const std::string& name) {
  return "Synchronizing directory '" + name + "'...\n";
}

std::string lineStartingWith(const std::string& prefix) { return prefix + kRestOfLine + "\n"; }

bool outputMatches(const std::string& expected, const std::string& actual) {
  std::vector<std::string> want = linesOf(expected), got = linesOf(actual);
  if (want.size() != got.size()) return false;
  for (size_t i = 0; i < want.size(); ++i)
    if (!lineMatches(want[i], got[i])) return false;
  return true;
}

std::string asked(const Answer& answer) { return answer.question + answer.key + "\n"; }

std::string serverParameterName(const ::testing::TestParamInfo<ServerKind>& info) {
  return serverKindName(info.param);
}

void SyncTest::SetUp() {
  startTime_ = static_cast<std::int64_t>(std::time(nullptr));
  std::unique_ptr<FtpServer>& shared = servers_[GetParam()];
  ServerOptions options;
  if (GetParam() == ServerKind::pyftpdlib) options.faultsFile = faultsFile();
  if (!shared || !shared->started()) shared = std::make_unique<FtpServer>(GetParam(), options);
  ASSERT_TRUE(shared->started()) << shared->startError();
  serverDirectory = "case" + std::to_string(++nextDirectory_);
  // Files the test puts there belong to the server's user, like the root.
  shared->tree().mkdir(serverDirectory);
  server = shared->tree(serverDirectory);
}

void SyncTest::TearDownTestSuite() { servers_.clear(); }

std::string SyncTest::startLines() {
  const FtpServer& s = ftp();
  return "\nTandrel V1.0\n"
         "Two-way synchronisation of a local directory tree with an FTP server\n"
         "\nConnecting to FTP server '" +
         s.hostArgument() + "' with '" + s.user() + "' user...\nSynchronizing local '" +
         local.path() + "' with '" + serverDirectory + "' on the '" + s.hostArgument() + "'...\n";
}

RunResult SyncTest::sync(const std::vector<std::string>& options,
                         const std::vector<Answer>& answers) {
  const FtpServer& s = ftp();
  PtyRun run;
  run.arguments = {"-h", s.hostArgument(), "-u", s.user(),       "-p", s.password(),
                   "-l", local.path(),     "-s", serverDirectory};
  run.arguments.insert(run.arguments.end(), options.begin(), options.end());
  for (const Answer& answer : answers) run.steps.push_back({answer.question, answer.key});
  // A question nobody answers blocks the run: fail within seconds, not minutes.
  run.stepTimeoutSeconds = 10;
  run.timeoutSeconds = 15;
  last = run.run();
  return last;
}

void SyncTest::expectActions(const std::string& actions, int status) {
  const std::string start = startLines();
  if (!last.output.starts_with(start)) {
    ADD_FAILURE() << "the output does not begin with the start lines " << quoted(start) << "\n"
                  << last.describe();
  } else {
    std::string rest = last.output.substr(start.size());
    EXPECT_TRUE(outputMatches(actions, rest))
        << "expected after the start lines:\n-----\n"
        << actions << "-----\ngot:\n-----\n"
        << rest << "-----\nexpected " << quoted(actions) << "\ngot      " << quoted(rest) << "\n"
        << last.describe();
  }
  EXPECT_TRUE(last.exitedWith(status)) << "expected exit status " << status << "\n"
                                       << last.describe();
  EXPECT_EQ(last.errorOutput, "") << "nothing may go to standard error";
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(server.path(), error);
       it != fs::recursive_directory_iterator(); it.increment(error)) {
    EXPECT_FALSE(it->path().filename().string().starts_with("zztandrel."))
        << "a tool file reached the server: " << it->path();
  }
  for (auto it = fs::recursive_directory_iterator(local.path(), error);
       it != fs::recursive_directory_iterator(); it.increment(error)) {
    EXPECT_FALSE(it->path().filename().string().starts_with("zztandrel.zztemp"))
        << "a temporary file was left behind: " << it->path();
  }
}

void SyncTest::expectTreesEqual() {
  EXPECT_EQ(compareTrees(local.path(), server.path(), {.skipToolFiles = true}), "");
}

std::string SyncTest::records(const std::string& directory, const char* file) const {
  std::string path = (directory.empty() ? local.path() : local.pathOf(directory)) + "/" + file;
  std::error_code error;
  if (!fs::exists(path, error)) return "(none)";
  return describeDatabase(readBytes(path));
}

std::string SyncTest::localRecords(const std::string& directory) const {
  return records(directory, "zztandrel.zzlocaldb");
}

std::string SyncTest::serverRecords(const std::string& directory) const {
  return records(directory, "zztandrel.zzserverdb");
}

DatabaseFiles SyncTest::databaseFiles() const {
  DatabaseFiles files;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(local.path(), error);
       it != fs::recursive_directory_iterator(); it.increment(error)) {
    if (!it->path().filename().string().starts_with("zztandrel.")) continue;
    struct stat info;
    if (lstat(it->path().c_str(), &info) != 0) continue;
    DatabaseFile file;
    file.bytes = readBytes(it->path().string());
    file.mtimeNanoseconds =
        static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    file.inode = info.st_ino;
    files[fs::relative(it->path(), local.path()).string()] = file;
  }
  return files;
}

void SyncTest::expectQuietRerun(const std::vector<std::string>& options,
                                const std::string& actions) {
  DatabaseFiles before = databaseFiles();
  std::string localBefore = localFiles(), serverBefore = serverFiles();
  EXPECT_FALSE(before.empty()) << "a run that synchronised something records it";
  sync(options);
  {
    SCOPED_TRACE("the run after nothing changed");
    expectActions(actions);
  }
  EXPECT_EQ(localFiles(), localBefore);
  EXPECT_EQ(serverFiles(), serverBefore);
  DatabaseFiles after = databaseFiles();
  EXPECT_EQ(after.size(), before.size()) << "database files came or went";
  for (const auto& [path, file] : before) {
    auto found = after.find(path);
    if (found == after.end()) {
      ADD_FAILURE() << path << " was removed";
    } else {
      EXPECT_EQ(found->second.bytes, file.bytes) << path << " changed";
      EXPECT_TRUE(found->second.mtimeNanoseconds == file.mtimeNanoseconds &&
                  found->second.inode == file.inode)
          << path << " was written again";
    }
  }
}

void SyncTest::recordBothSides() {
  sync({"-r", "-y"});
  ASSERT_TRUE(last.exitedWith(0)) << last.describe();
  ASSERT_EQ(compareTrees(local.path(), server.path(), {.skipToolFiles = true}), "");
}

}  // namespace tandrel::testing
