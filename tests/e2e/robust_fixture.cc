#include "e2e/robust_fixture.h"

#include "e2e/robust_live_run.h"
#include "state/state_database.h"
#include "storage/reserved_names.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <random>

namespace tandrel::testing {

namespace fs = std::filesystem;

void RobustBase::startServer(ServerKind kind, ServerOptions options) {
  server_ = std::make_unique<FtpServer>(kind, options);
  ASSERT_TRUE(server_->started()) << server_->startError();
}

std::vector<std::string> RobustBase::arguments(const std::vector<std::string>& more) const {
  std::vector<std::string> all = {"-h", server_->hostArgument(), "-u", server_->user(),
                                  "-p", server_->password(),     "-l", local.path()};
  all.insert(all.end(), more.begin(), more.end());
  return all;
}

std::string RobustBase::startLines() const {
  return "\nTandrel V1.0\n"
         "Two-way synchronisation of a local directory tree with an FTP server\n"
         "\nConnecting to FTP server '" +
         server_->hostArgument() + "' with '" + server_->user() +
         "' user...\nSynchronizing local '" + local.path() + "' with '' on the '" +
         server_->hostArgument() + "'...\n";
}

void RobustBase::expectOutput(const RunResult& result, const std::string& actions) const {
  const std::string start = startLines();
  // What stays on the screen: a progress line is erased before the next line.
  const std::string shown = withErasuresApplied(result.rawOutput);
  if (!shown.starts_with(start)) {
    ADD_FAILURE() << "the output does not begin with the start lines " << quoted(start) << "\n"
                  << result.describe();
    return;
  }
  const std::string rest = shown.substr(start.size());
  EXPECT_TRUE(outputMatches(actions, rest))
      << "expected after the start lines:\n-----\n"
      << actions << "-----\ngot:\n-----\n"
      << rest << "-----\nexpected " << quoted(actions) << "\ngot      " << quoted(rest) << "\n"
      << result.describe();
  EXPECT_EQ(result.errorOutput, "") << "nothing may go to standard error";
}

void RobustBase::expectNoLeftovers() const {
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(server_->root(), error);
       it != fs::recursive_directory_iterator(); it.increment(error)) {
    EXPECT_FALSE(isReservedName(it->path().filename().string()))
        << "a tool file is on the server: " << it->path();
  }
  for (auto it = fs::recursive_directory_iterator(local.path(), error);
       it != fs::recursive_directory_iterator(); it.increment(error)) {
    EXPECT_FALSE(it->path().filename().string().starts_with(kTemporaryPrefix) ||
                 it->path().filename() == kBareTemporaryName)
        << "a temporary file was left behind: " << it->path();
  }
}

namespace {

// Every entry of a tree with its bytes and, for the tool's files, the time and
// inode that show whether it was written again.
std::string fullState(const std::string& root) {
  std::string text;
  std::vector<std::string> lines;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(root, error);
       it != fs::recursive_directory_iterator(); it.increment(error)) {
    struct stat info;
    if (lstat(it->path().c_str(), &info) != 0) continue;
    std::string line = fs::relative(it->path(), root).string();
    if (S_ISREG(info.st_mode)) {
      line += " size " + std::to_string(info.st_size);
      if (it->path().filename().string().starts_with("zztandrel."))
        line += " inode " + std::to_string(info.st_ino) + " mtime " +
                std::to_string(info.st_mtim.tv_sec) + "." + std::to_string(info.st_mtim.tv_nsec);
      else
        line += " mtime " + std::to_string(info.st_mtim.tv_sec);
    }
    lines.push_back(line);
  }
  std::sort(lines.begin(), lines.end());
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

}  // namespace

void RobustBase::expectQuietRerun(const std::vector<std::string>& options,
                                  const std::string& actions, int status) {
  const std::string localBefore = fullState(local.path());
  const std::string serverBefore = fullState(server_->root());
  EXPECT_NE(localBefore.find("zztandrel."), std::string::npos)
      << "a run that synchronised something records it";
  RunResult again = run(options);
  {
    SCOPED_TRACE("the run after nothing changed");
    expectOutput(again, actions);
    EXPECT_TRUE(again.exitedWith(status)) << again.describe();
  }
  EXPECT_EQ(fullState(local.path()), localBefore) << "the local tree changed";
  EXPECT_EQ(fullState(server_->root()), serverBefore) << "the server tree changed";
}

RunResult RobustBase::run(const std::vector<std::string>& options,
                          const std::vector<Answer>& answers) const {
  PtyRun pty;
  pty.arguments = arguments(options);
  for (const Answer& answer : answers) pty.steps.push_back({answer.question, answer.key});
  pty.stepTimeoutSeconds = 15;
  pty.timeoutSeconds = 40;
  return pty.run();
}

std::string kindName(const ::testing::TestParamInfo<ServerKind>& info) {
  return serverKindName(info.param);
}

FileEnds fileEnds(const std::string& path, size_t count) {
  FileEnds ends;
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return ends;
  struct stat info;
  if (fstat(fd, &info) == 0) {
    ends.size = info.st_size;
    size_t headCount = std::min<size_t>(count, static_cast<size_t>(info.st_size));
    ends.head.resize(headCount);
    ssize_t got = pread(fd, ends.head.data(), headCount, 0);
    ends.head.resize(got > 0 ? static_cast<size_t>(got) : 0);
    ends.tail.resize(headCount);
    got = pread(fd, ends.tail.data(), headCount, info.st_size - static_cast<off_t>(headCount));
    ends.tail.resize(got > 0 ? static_cast<size_t>(got) : 0);
  }
  close(fd);
  return ends;
}

std::string recordedNames(const std::string& directory, const std::string& file) {
  const std::string path = directory + "/" + file;
  std::error_code error;
  if (!fs::exists(path, error)) return "(none)";
  const std::string bytes = Tree(directory).read(file);
  EntryList list;
  if (!bytes.starts_with("TANDRELDATABASE") || !decodeDatabase(bytes, list)) return "(damaged)";
  std::string names;
  for (const auto& entry : list) {
    names += (names.empty() ? "" : " ") + entry->name + (entry->isDirectory ? "/" : "");
  }
  return names;
}

std::string randomBytes(size_t count, unsigned seed) {
  std::mt19937_64 generator(seed);
  std::string bytes(count, '\0');
  for (size_t i = 0; i < count; i += 8) {
    uint64_t value = generator();
    for (size_t j = 0; j < 8 && i + j < count; ++j) bytes[i + j] = static_cast<char>(value >> (8 * j));
  }
  return bytes;
}

}  // namespace tandrel::testing
