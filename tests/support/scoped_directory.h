// Runs a test inside a directory and returns to where it was afterwards.
#pragma once

#include <unistd.h>

#include <string>

namespace tandrel::testing {

class ScopedDirectory {
 public:
  explicit ScopedDirectory(const std::string& path) {
    char buffer[4096];
    if (getcwd(buffer, sizeof buffer) != nullptr) previous_ = buffer;
    entered_ = chdir(path.c_str()) == 0;
  }
  ~ScopedDirectory() {
    if (!previous_.empty() && chdir(previous_.c_str()) != 0) {
      // Nothing sensible to do in a destructor; the next test starts elsewhere.
    }
  }
  bool entered() const { return entered_; }

 private:
  std::string previous_;
  bool entered_ = false;
};

}  // namespace tandrel::testing
