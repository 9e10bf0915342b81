#include "storage/server_path.h"

#include <vector>

namespace tandrel {

std::string childPath(const std::string& directory, const std::string& name) {
  return directory == "/" ? "/" + name : directory + "/" + name;
}

std::string resolvePath(const std::string& current, const std::string& name) {
  std::vector<std::string> segments;
  auto add = [&segments](std::string_view path) {
    while (!path.empty()) {
      size_t slash = path.find('/');
      std::string_view segment = path.substr(0, slash);
      path.remove_prefix(slash == std::string_view::npos ? path.size() : slash + 1);
      if (segment.empty() || segment == ".") continue;
      if (segment == "..") {
        if (!segments.empty()) segments.pop_back();
      } else {
        segments.emplace_back(segment);
      }
    }
  };
  if (name.empty() || name.front() != '/') add(current);
  add(name);
  std::string path;
  for (const std::string& segment : segments) path += "/" + segment;
  return path.empty() ? "/" : path;
}

bool isAncestorOrSelf(const std::string& ancestor, const std::string& path) {
  return ancestor == "/" || ancestor == path || path.starts_with(ancestor + "/");
}

bool readPwdReply(const Reply& reply, std::string& path) {
  if (reply.code != 257) return false;
  std::vector<std::string_view> lines = splitLines(reply.text);
  if (lines.empty()) return false;
  std::string_view text = lines.front();
  size_t open = text.find('"');
  if (open == std::string_view::npos) return false;
  path.clear();
  for (size_t i = open + 1; i < text.size(); ++i) {
    if (text[i] != '"') {
      path.push_back(text[i]);
    } else if (i + 1 < text.size() && text[i + 1] == '"') {
      path.push_back('"');
      ++i;
    } else {
      return path.starts_with("/");
    }
  }
  return false;
}

bool hasLineBreakOrNul(std::string_view name) {
  return name.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

bool hasPatternCharacters(std::string_view name) {
  return name.find_first_of("*?[]{}\\") != std::string_view::npos;
}

}  // namespace tandrel
