// A run of the built tool under a pseudo-terminal that the test drives step by
// step while it runs: wait for a text, pause, look at the process, start other
// runs beside it, type keys, send signals. PtyRun plays a script from start to
// end; these tests need to act between the steps.
//
// Every wait is bounded; the destructor kills a child that is still running,
// with its process group, so a failing test leaves nothing behind.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

#include "support/pty_run.h"

namespace tandrel::testing {

class LiveRun {
 public:
  // Starts the built tool with `arguments` in `workingDirectory` (empty: the
  // test's own). started() says whether that worked.
  LiveRun(const std::vector<std::string>& arguments, const std::string& workingDirectory = "");
  ~LiveRun();
  LiveRun(const LiveRun&) = delete;
  LiveRun& operator=(const LiveRun&) = delete;

  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }

  // Waits until the output, after the end of the text found by the previous
  // waitFor, contains `text`; false when the time runs out or the child ends first.
  bool waitFor(const std::string& text, std::chrono::milliseconds timeout = std::chrono::seconds(20));
  // Waits until the terminal has left canonical mode, that is until the tool
  // waits for a single key.
  bool waitForKeyRead(std::chrono::milliseconds timeout = std::chrono::seconds(20));
  // waitFor, then waitForKeyRead: the question is on screen and the tool reads.
  bool waitForQuestion(const std::string& question,
                       std::chrono::milliseconds timeout = std::chrono::seconds(20));
  // Keeps collecting output for this long.
  void pause(std::chrono::milliseconds duration);

  void send(const std::string& keys);
  void signal(int signalNumber);

  // Waits for the end of the child and returns the whole run; kills it when it
  // does not end within `timeout` (the result then says timedOut).
  RunResult finish(std::chrono::milliseconds timeout = std::chrono::seconds(30));
  // Whether the child has ended (it is then reaped; finish() still reports it).
  bool ended();

  // The output so far, "\r\n" turned into "\n".
  std::string output() const;
  const std::string& rawOutput() const { return result_.rawOutput; }

 private:
  // Reads what is there, waiting up to `milliseconds` for something.
  void collect(int milliseconds);
  bool reap();

  pid_t pid_ = -1;
  int master_ = -1;
  int slave_ = -1;
  int errorPipe_ = -1;
  bool reaped_ = false;
  int status_ = 0;
  size_t searchFrom_ = 0;
  RunResult result_;
};

// What a terminal shows in the end for output that erases its current line
// with "\r\033[K" (and "\r\n" for line ends): each erasure drops the text of the
// line so far.
std::string withErasuresApplied(const std::string& raw);

// Sets an environment variable for the lifetime of the object (children
// started meanwhile inherit it) and restores the old value after. A null value
// removes the variable.
class ScopedEnvironment {
 public:
  ScopedEnvironment(std::string name, const char* value);
  ~ScopedEnvironment();
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  std::string name_;
  bool hadValue_ = false;
  std::string oldValue_;
};

}  // namespace tandrel::testing
