#include "storage/reply_reader.h"

#include <cstdlib>
#include <utility>

namespace tandrel {

namespace {

int codeOf(std::string_view line) { return std::atoi(std::string(line.substr(0, 3)).c_str()); }

}  // namespace

bool hasReplyCode(std::string_view line) {
  return line.size() >= 3 && line[0] >= '1' && line[0] <= '5' && line[1] >= '0' && line[1] <= '9' &&
         line[2] >= '0' && line[2] <= '9';
}

std::vector<std::string_view> splitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    size_t end = text.find('\n');
    lines.push_back(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
  }
  return lines;
}

std::vector<std::string_view> innerLines(const Reply& reply) {
  std::vector<std::string_view> lines = splitLines(reply.text);
  if (lines.size() < 2) return {};
  return {lines.begin() + 1, lines.end() - 1};
}

void ReplyReader::reset() {
  replies_.clear();
  partial_.clear();
  open_ = Reply{};
  inMultiLine_ = false;
  command_.clear();
}

void ReplyReader::sent(std::string_view commandLine) {
  while (!commandLine.empty() && (commandLine.back() == '\n' || commandLine.back() == '\r')) {
    commandLine.remove_suffix(1);
  }
  command_.assign(commandLine);
}

void ReplyReader::feed(std::string_view data) {
  partial_.append(data);
  size_t start = 0;
  for (size_t end; (end = partial_.find('\n', start)) != std::string::npos; start = end + 1) {
    std::string_view line(partial_.data() + start, end - start);
    // Only the line end's own CR: one before it belongs to a name.
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    addLine(line);
  }
  partial_.erase(0, start);
}

void ReplyReader::addLine(std::string_view line) {
  if (!inMultiLine_) {
    if (!hasReplyCode(line)) return;
    open_ = Reply{codeOf(line), {}, command_};
    inMultiLine_ = line.size() > 3 && line[3] == '-';
  } else if (hasReplyCode(line) && codeOf(line) == open_.code &&
             (line.size() == 3 || line[3] == ' ')) {
    inMultiLine_ = false;  // the closing line repeats the code with a space
  }
  open_.text.append(line);
  open_.text.push_back('\n');
  if (!inMultiLine_) replies_.push_back(std::move(open_));
}

}  // namespace tandrel
