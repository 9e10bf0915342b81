// Feeds keys to code that reads standard input, in-process.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

namespace tandrel::testing {

// Standard input reads `keys` while the object lives; the input never ends.
class ScopedKeys {
 public:
  explicit ScopedKeys(const std::string& keys) {
    int fds[2];
    if (pipe(fds) != 0) return;
    ssize_t written = write(fds[1], keys.data(), keys.size());
    EXPECT_EQ(written, static_cast<ssize_t>(keys.size()));
    saved_ = dup(STDIN_FILENO);
    dup2(fds[0], STDIN_FILENO);
    close(fds[0]);
    writer_ = fds[1];
  }
  ~ScopedKeys() {
    if (saved_ >= 0) {
      dup2(saved_, STDIN_FILENO);
      close(saved_);
    }
    if (writer_ >= 0) close(writer_);
  }
  ScopedKeys(const ScopedKeys&) = delete;
  ScopedKeys& operator=(const ScopedKeys&) = delete;

 private:
  int saved_ = -1;
  int writer_ = -1;
};

}  // namespace tandrel::testing
