#include "support/temp_tree.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "storage/reserved_names.h"

namespace tandrel::testing {
namespace fs = std::filesystem;

namespace {

bool isToolFile(const std::string& name) { return isReservedName(name); }

void collect(const std::string& root, const std::string& relative, SnapshotOptions options,
             std::vector<std::pair<std::string, std::string>>& lines) {
  std::error_code error;
  std::string directory = relative.empty() ? root : root + "/" + relative;
  for (const fs::directory_entry& entry : fs::directory_iterator(directory, error)) {
    std::string name = entry.path().filename().string();
    if (options.skipToolFiles && isToolFile(name)) continue;
    std::string path = relative.empty() ? name : relative + "/" + name;
    fs::file_status status = entry.symlink_status(error);
    if (fs::is_symlink(status)) {
      lines.emplace_back(path, path + " -> " + fs::read_symlink(entry.path(), error).string());
    } else if (fs::is_directory(status)) {
      lines.emplace_back(path, path + "/");
      collect(root, path, options, lines);
    } else {
      std::ifstream in(entry.path(), std::ios::binary);
      std::ostringstream content;
      content << in.rdbuf();
      lines.emplace_back(path, path + ":" + content.str());
    }
  }
}

}  // namespace

std::string snapshotTree(const std::string& root, SnapshotOptions options) {
  std::vector<std::pair<std::string, std::string>> lines;
  collect(root, "", options, lines);
  std::sort(lines.begin(), lines.end());
  std::string text;
  for (const auto& line : lines) text += line.second + "\n";
  return text;
}

std::string compareTrees(const std::string& left, const std::string& right,
                         SnapshotOptions options) {
  std::string a = snapshotTree(left, options);
  std::string b = snapshotTree(right, options);
  if (a == b) return "";
  auto split = [](const std::string& text) {
    std::multiset<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) lines.insert(line);
    return lines;
  };
  std::multiset<std::string> linesA = split(a), linesB = split(b);
  std::string report = "trees differ\n--- only in " + left + ":\n";
  for (const std::string& line : linesA)
    if (!linesB.count(line)) report += "  " + line + "\n";
  report += "--- only in " + right + ":\n";
  for (const std::string& line : linesB)
    if (!linesA.count(line)) report += "  " + line + "\n";
  report += "--- " + left + ":\n" + a + "--- " + right + ":\n" + b;
  return report;
}

Tree::Tree(std::string root, uid_t owner, gid_t group)
    : root_(std::move(root)), owner_(owner), group_(group) {}

std::string Tree::pathOf(const std::string& relative) const {
  return relative.empty() ? root_ : root_ + "/" + relative;
}

void Tree::chownNew(const std::string& absolute) const {
  if (owner_ == static_cast<uid_t>(-1)) return;
  int ignored = lchown(absolute.c_str(), owner_, group_);
  (void)ignored;
}

void Tree::write(const std::string& relative, const std::string& content,
                 std::optional<std::int64_t> mtimeSeconds) const {
  std::string absolute = pathOf(relative);
  fs::path parent = fs::path(relative).parent_path();
  if (!parent.empty()) mkdir(parent.string());
  {
    std::ofstream out(absolute, std::ios::binary | std::ios::trunc);
    out << content;
  }
  chownNew(absolute);
  if (mtimeSeconds) setMtime(relative, *mtimeSeconds);
}

void Tree::setMtime(const std::string& relative, std::int64_t seconds) const {
  timespec times[2];
  times[0].tv_sec = static_cast<time_t>(seconds);
  times[0].tv_nsec = 0;
  times[1] = times[0];
  utimensat(AT_FDCWD, pathOf(relative).c_str(), times, AT_SYMLINK_NOFOLLOW);
}

std::int64_t Tree::mtime(const std::string& relative) const {
  struct stat info;
  if (lstat(pathOf(relative).c_str(), &info) != 0) return -1;
  return static_cast<std::int64_t>(info.st_mtim.tv_sec);
}

std::string Tree::read(const std::string& relative) const {
  std::ifstream in(pathOf(relative), std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

bool Tree::exists(const std::string& relative) const {
  std::error_code error;
  return fs::exists(fs::symlink_status(pathOf(relative), error));
}

bool Tree::isDirectory(const std::string& relative) const {
  std::error_code error;
  return fs::is_directory(fs::symlink_status(pathOf(relative), error));
}

void Tree::mkdir(const std::string& relative) const {
  // Made one level at a time so that each new level gets the owner.
  std::string sofar;
  for (const fs::path& part : fs::path(relative)) {
    sofar = sofar.empty() ? part.string() : sofar + "/" + part.string();
    std::string absolute = pathOf(sofar);
    if (::mkdir(absolute.c_str(), 0755) == 0) chownNew(absolute);
  }
}

void Tree::remove(const std::string& relative) const {
  std::error_code error;
  fs::remove_all(pathOf(relative), error);
}

namespace {
std::string makeTempDirectory() {
  char pattern[] = "/tmp/tandrel-tree-XXXXXX";
  if (mkdtemp(pattern) == nullptr) std::abort();
  // Readable by a server that runs as another user, as a server root would be.
  chmod(pattern, 0755);
  return pattern;
}
}  // namespace

TempTree::TempTree() : Tree(makeTempDirectory()) {}

TempTree::~TempTree() {
  std::error_code error;
  fs::remove_all(root_, error);
}

}  // namespace tandrel::testing
