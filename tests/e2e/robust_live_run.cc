#include "e2e/robust_live_run.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <utmp.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace tandrel::testing {
namespace {

using Clock = std::chrono::steady_clock;


void readAvailable(int fd, std::string& into) {
  char buffer[4096];
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) {
      into.append(buffer, static_cast<size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      return;  // nothing more now, the end, or EIO from a terminal nobody holds
    }
  }
}

}  // namespace

LiveRun::LiveRun(const std::vector<std::string>& arguments, const std::string& workingDirectory) {
  winsize size{};
  size.ws_row = 24;
  size.ws_col = 80;
  if (openpty(&master_, &slave_, nullptr, nullptr, &size) != 0) {
    result_.errorOutput = std::string("openpty: ") + std::strerror(errno);
    return;
  }
  int errorPipe[2];
  if (pipe2(errorPipe, O_CLOEXEC) != 0) {
    result_.errorOutput = std::string("pipe: ") + std::strerror(errno);
    return;
  }
  termios before;
  if (tcgetattr(slave_, &before) == 0) result_.terminalBefore = before;
  const std::string program = toolBinary();
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid == 0) {
    // Only async-signal-safe calls from here to exec.
    close(master_);
    login_tty(slave_);
    dup2(errorPipe[1], 2);
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(125);
    if (!workingDirectory.empty() && chdir(workingDirectory.c_str()) != 0) _exit(126);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(errorPipe[1]);
  errorPipe_ = errorPipe[0];
  if (pid < 0) {
    result_.errorOutput = std::string("fork: ") + std::strerror(errno);
    return;
  }
  pid_ = pid;
  fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
  fcntl(errorPipe_, F_SETFL, fcntl(errorPipe_, F_GETFL) | O_NONBLOCK);
}

LiveRun::~LiveRun() {
  if (pid_ > 0 && !reaped_) {
    kill(-pid_, SIGKILL);
    kill(pid_, SIGKILL);
    waitpid(pid_, &status_, 0);
  }
  for (int fd : {master_, slave_, errorPipe_})
    if (fd >= 0) close(fd);
}

void LiveRun::collect(int milliseconds) {
  pollfd fds[2] = {{master_, POLLIN, 0}, {errorPipe_, POLLIN, 0}};
  poll(fds, 2, milliseconds);
  readAvailable(master_, result_.rawOutput);
  readAvailable(errorPipe_, result_.errorOutput);
}

bool LiveRun::reap() {
  if (reaped_) return true;
  if (pid_ <= 0) return false;
  if (waitpid(pid_, &status_, WNOHANG) == pid_) {
    reaped_ = true;
    // With the slave held here the terminal never reports its end: what the
    // child wrote is already in the buffer.
    readAvailable(master_, result_.rawOutput);
    readAvailable(errorPipe_, result_.errorOutput);
  }
  return reaped_;
}

bool LiveRun::ended() { return reap(); }

std::string LiveRun::output() const { return normalizeLineEnds(result_.rawOutput); }

bool LiveRun::waitFor(const std::string& text, std::chrono::milliseconds timeout) {
  if (pid_ <= 0) return false;
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    const std::string shown = output();
    size_t at = shown.find(text, searchFrom_);
    if (at != std::string::npos) {
      searchFrom_ = at + text.size();
      return true;
    }
    if (reap() || Clock::now() > deadline) {
      result_.stuckAt = text;
      return false;
    }
    collect(10);
  }
}

bool LiveRun::waitForKeyRead(std::chrono::milliseconds timeout) {
  if (pid_ <= 0) return false;
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    termios mode;
    if (tcgetattr(slave_, &mode) == 0 && (mode.c_lflag & ICANON) == 0) return true;
    if (reap() || Clock::now() > deadline) return false;
    collect(2);
  }
}

bool LiveRun::waitForQuestion(const std::string& question, std::chrono::milliseconds timeout) {
  return waitFor(question, timeout) && waitForKeyRead(timeout);
}

void LiveRun::pause(std::chrono::milliseconds duration) {
  const auto until = Clock::now() + duration;
  while (Clock::now() < until) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
    collect(static_cast<int>(std::min<long>(left.count(), 20)));
    reap();
  }
}

void LiveRun::send(const std::string& keys) {
  size_t done = 0;
  const auto deadline = Clock::now() + std::chrono::seconds(5);
  while (done < keys.size() && Clock::now() < deadline) {
    ssize_t n = write(master_, keys.data() + done, keys.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n < 0 && errno != EINTR && errno != EAGAIN) {
      return;
    } else {
      collect(5);
    }
  }
}

void LiveRun::signal(int signalNumber) {
  if (pid_ > 0 && !reaped_) kill(pid_, signalNumber);
}

RunResult LiveRun::finish(std::chrono::milliseconds timeout) {
  if (pid_ <= 0) return result_;
  const auto deadline = Clock::now() + timeout;
  while (!reap()) {
    if (Clock::now() > deadline) {
      result_.timedOut = true;
      kill(-pid_, SIGKILL);
      kill(pid_, SIGKILL);
      waitpid(pid_, &status_, 0);
      reaped_ = true;
      readAvailable(master_, result_.rawOutput);
      readAvailable(errorPipe_, result_.errorOutput);
      break;
    }
    collect(10);
  }
  if (WIFEXITED(status_)) result_.exitCode = WEXITSTATUS(status_);
  if (WIFSIGNALED(status_)) result_.signal = WTERMSIG(status_);
  termios after;
  if (tcgetattr(slave_, &after) == 0) result_.terminalAfter = after;
  result_.output = output();
  return result_;
}

std::string withErasuresApplied(const std::string& raw) {
  static const std::string kErase = "\r\033[K";
  std::string screen;
  for (size_t i = 0; i < raw.size();) {
    if (raw.compare(i, kErase.size(), kErase) == 0) {
      size_t lineStart = screen.rfind('\n');
      screen.resize(lineStart == std::string::npos ? 0 : lineStart + 1);
      i += kErase.size();
    } else if (raw.compare(i, 2, "\r\n") == 0) {
      screen += '\n';
      i += 2;
    } else {
      screen += raw[i++];
    }
  }
  return screen;
}

ScopedEnvironment::ScopedEnvironment(std::string name, const char* value) : name_(std::move(name)) {
  if (const char* old = std::getenv(name_.c_str())) {
    hadValue_ = true;
    oldValue_ = old;
  }
  if (value)
    setenv(name_.c_str(), value, 1);
  else
    unsetenv(name_.c_str());
}

ScopedEnvironment::~ScopedEnvironment() {
  if (hadValue_)
    setenv(name_.c_str(), oldValue_.c_str(), 1);
  else
    unsetenv(name_.c_str());
}

}  // namespace tandrel::testing
