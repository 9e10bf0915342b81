#include "support/pty_run.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utmp.h>

#ifndef TANDREL_BINARY
#error "TANDREL_BINARY must name the built tool"
#endif

namespace tandrel::testing {
namespace {

using Clock = std::chrono::steady_clock;


bool terminalIsCanonical(int fd) {
  termios mode;
  return tcgetattr(fd, &mode) != 0 || (mode.c_lflag & ICANON) != 0;
}

void setNonBlocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

// Reads what is there; false once the descriptor has reached its end.
bool drain(int fd, std::string& into) {
  char buffer[4096];
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) {
      into.append(buffer, static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) return true;
    return false;  // end of file, or EIO from a terminal nobody holds any more
  }
}

void writeAll(int fd, const std::string& bytes) {
  size_t done = 0;
  auto deadline = Clock::now() + std::chrono::seconds(5);
  while (done < bytes.size() && Clock::now() < deadline) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n < 0 && errno != EINTR && errno != EAGAIN) {
      return;
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
}

std::vector<char*> argvOf(const std::string& program, const std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  return argv;
}

// In the child, between fork and exec: only async-signal-safe calls.
[[noreturn]] void execChild(const std::string& workingDirectory, std::vector<char*>& argv,
                            pid_t parent) {
  // Dies with the test process, even when that one is killed outright.
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != parent) _exit(125);
  if (!workingDirectory.empty() && chdir(workingDirectory.c_str()) != 0) {
    static const char message[] = "test harness: can't enter the working directory\n";
    ssize_t ignored = write(2, message, sizeof message - 1);
    (void)ignored;
    _exit(126);
  }
  execv(argv[0], argv.data());
  static const char message[] = "test harness: exec failed\n";
  ssize_t ignored = write(2, message, sizeof message - 1);
  (void)ignored;
  _exit(127);
}

struct Channels {
  pid_t pid = -1;
  int out = -1;       // pty master or stdout pipe
  int err = -1;       // stderr pipe
  int in = -1;        // where keys go: the pty master (same as out) or stdin pipe
  int ptySlave = -1;  // kept open so the mode can be read after the child ends
};

// Feeds steps and input, collects output and error until the child has ended
// and its output is drained, or kills it when time runs out.
void supervise(Channels& c, const std::vector<PtyStep>& steps, std::optional<std::string> input,
               int stepTimeoutSeconds, int timeoutSeconds, RunResult& result) {
  auto overall = Clock::now() + std::chrono::seconds(timeoutSeconds);
  auto stepDeadline = Clock::now() + std::chrono::seconds(stepTimeoutSeconds);
  size_t stepIndex = 0;
  size_t searchFrom = 0;
  bool outOpen = true, errOpen = true, reaped = false;
  bool textSeen = false;  // the current step's text is there; waiting for raw mode
  Clock::time_point drainDeadline{};
  int status = 0;

  if (input && c.in >= 0 && c.in != c.out) {
    writeAll(c.in, *input);
    close(c.in);
    c.in = -1;
  }

  for (;;) {
    pollfd fds[2];
    int count = 0;
    if (outOpen) fds[count++] = {c.out, POLLIN, 0};
    if (errOpen) fds[count++] = {c.err, POLLIN, 0};
    poll(fds, static_cast<nfds_t>(count), textSeen ? 2 : 20);
    if (outOpen) outOpen = drain(c.out, result.rawOutput);
    if (errOpen) errOpen = drain(c.err, result.errorOutput);

    while (stepIndex < steps.size()) {
      const PtyStep& step = steps[stepIndex];
      std::string text = normalizeLineEnds(result.rawOutput);
      size_t at = step.waitFor.empty() ? searchFrom : text.find(step.waitFor, searchFrom);
      if (at == std::string::npos) break;
      bool raw = c.ptySlave >= 0 && !terminalIsCanonical(c.ptySlave);
      if (!textSeen && !step.waitFor.empty()) result.rawWhenTextSeen.push_back(raw);
      textSeen = true;
      bool acts = !step.send.empty() || step.signal != 0;
      if (c.ptySlave >= 0 && step.waitForKeyRead && acts && !step.waitFor.empty() && !raw)
        break;
      textSeen = false;
      searchFrom = at + step.waitFor.size();
      if (!step.send.empty() && c.in >= 0) writeAll(c.in, step.send);
      if (step.signal != 0) kill(c.pid, step.signal);
      ++stepIndex;
      stepDeadline = Clock::now() + std::chrono::seconds(stepTimeoutSeconds);
    }

    if (!reaped) {
      pid_t r = waitpid(c.pid, &status, WNOHANG);
      if (r == c.pid) {
        reaped = true;
        drainDeadline = Clock::now() + std::chrono::seconds(2);
      }
    }
    if (reaped) {
      // With the slave still held here a terminal never reports its end: once
      // the child is gone, what it wrote is already in the buffer.
      if (c.ptySlave >= 0 && outOpen) {
        drain(c.out, result.rawOutput);
        outOpen = false;
      }
      if ((!outOpen && !errOpen) || Clock::now() > drainDeadline) break;
      continue;
    }

    bool stepLate = stepIndex < steps.size() && Clock::now() > stepDeadline;
    if (stepLate || Clock::now() > overall) {
      result.timedOut = true;
      if (stepLate) {
        result.stuckAt = steps[stepIndex].waitFor;
        if (textSeen) result.stuckAt += " (seen, but the terminal stayed in canonical mode)";
      }
      kill(-c.pid, SIGKILL);
      kill(c.pid, SIGKILL);
      waitpid(c.pid, &status, 0);
      reaped = true;
      drain(c.out, result.rawOutput);
      drain(c.err, result.errorOutput);
      break;
    }
  }

  if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  if (stepIndex < steps.size() && result.stuckAt.empty())
    result.stuckAt = steps[stepIndex].waitFor + " (the program ended first)";
  result.output = normalizeLineEnds(result.rawOutput);
}

}  // namespace

std::string toolBinary() { return TANDREL_BINARY; }

std::string quoted(const std::string& text) {
  std::string q = "\"";
  for (unsigned char ch : text) {
    switch (ch) {
      case '\n': q += "\\n"; break;
      case '\r': q += "\\r"; break;
      case '\t': q += "\\t"; break;
      case '"': q += "\\\""; break;
      case '\\': q += "\\\\"; break;
      default:
        if (ch < 0x20 || ch >= 0x7f) {
          char hex[8];
          std::snprintf(hex, sizeof hex, "\\x%02x", ch);
          q += hex;
        } else {
          q += static_cast<char>(ch);
        }
    }
  }
  return q + "\"";
}

bool RunResult::terminalRestored() const {
  if (!terminalBefore || !terminalAfter) return false;
  const tcflag_t localFlags = ICANON | ECHO | ECHOE | ECHOK | ISIG | IEXTEN;
  const tcflag_t inputFlags = ICRNL | IXON | INLCR | IGNCR;
  return (terminalBefore->c_lflag & localFlags) == (terminalAfter->c_lflag & localFlags) &&
         (terminalBefore->c_iflag & inputFlags) == (terminalAfter->c_iflag & inputFlags) &&
         (terminalBefore->c_oflag & OPOST) == (terminalAfter->c_oflag & OPOST) &&
         terminalBefore->c_cc[VMIN] == terminalAfter->c_cc[VMIN] &&
         terminalBefore->c_cc[VTIME] == terminalAfter->c_cc[VTIME];
}

std::string RunResult::describe() const {
  std::string text;
  if (timedOut) {
    text += "TIMED OUT and killed";
    if (!stuckAt.empty()) text += ", waiting for " + quoted(stuckAt);
    text += "\n";
  } else if (signal != 0) {
    text += "ended by signal " + std::to_string(signal) + "\n";
  } else {
    text += "exit status " + std::to_string(exitCode) + "\n";
    if (!stuckAt.empty()) text += "step never reached: " + quoted(stuckAt) + "\n";
  }
  if (!errorOutput.empty()) text += "standard error:\n" + errorOutput + "\n";
  text += "output (" + std::to_string(output.size()) + " bytes):\n-----\n" + output +
          "\n-----\nas a string: " + quoted(output) + "\n";
  return text;
}

PtyRun::PtyRun() : program(toolBinary()) {}

RunResult PtyRun::run() const {
  RunResult result;
  Channels c;
  int master = -1, slave = -1;
  winsize size{};
  size.ws_row = 24;
  size.ws_col = 80;
  if (openpty(&master, &slave, nullptr, nullptr, &size) != 0) {
    result.errorOutput = std::string("openpty: ") + std::strerror(errno);
    return result;
  }
  int errPipe[2];
  if (pipe2(errPipe, O_CLOEXEC) != 0) {
    close(master);
    close(slave);
    result.errorOutput = std::string("pipe: ") + std::strerror(errno);
    return result;
  }
  termios before;
  if (tcgetattr(slave, &before) == 0) result.terminalBefore = before;
  std::vector<char*> argv = argvOf(program, arguments);
  pid_t parent = getpid();

  pid_t pid = fork();
  if (pid == 0) {
    close(master);
    login_tty(slave);  // new session, the terminal as 0, 1 and 2
    dup2(errPipe[1], 2);
    execChild(workingDirectory, argv, parent);
  }
  close(errPipe[1]);
  if (pid < 0) {
    close(master);
    close(slave);
    close(errPipe[0]);
    result.errorOutput = std::string("fork: ") + std::strerror(errno);
    return result;
  }
  setNonBlocking(master);
  setNonBlocking(errPipe[0]);
  c.pid = pid;
  c.out = master;
  c.in = master;
  c.err = errPipe[0];
  c.ptySlave = slave;
  supervise(c, steps, std::nullopt, stepTimeoutSeconds, timeoutSeconds, result);
  termios after;
  if (tcgetattr(slave, &after) == 0) result.terminalAfter = after;
  close(master);
  close(slave);
  close(errPipe[0]);
  return result;
}

RunResult runTool(const std::vector<std::string>& arguments, const std::string& workingDirectory,
                  const std::vector<PtyStep>& steps) {
  PtyRun run;
  run.arguments = arguments;
  run.workingDirectory = workingDirectory;
  run.steps = steps;
  return run.run();
}

RunResult runPiped(const std::string& program, const std::vector<std::string>& arguments,
                   std::optional<std::string> input, const std::string& workingDirectory,
                   int timeoutSeconds) {
  RunResult result;
  int outPipe[2], errPipe[2], inPipe[2] = {-1, -1};
  if (pipe2(outPipe, O_CLOEXEC) != 0) return result;
  if (pipe2(errPipe, O_CLOEXEC) != 0) {
    close(outPipe[0]);
    close(outPipe[1]);
    return result;
  }
  if (input && pipe2(inPipe, O_CLOEXEC) != 0) {
    for (int fd : {outPipe[0], outPipe[1], errPipe[0], errPipe[1]}) close(fd);
    return result;
  }
  int devNull = input ? -1 : open("/dev/null", O_RDONLY | O_CLOEXEC);
  std::vector<char*> argv = argvOf(program, arguments);
  pid_t parent = getpid();

  pid_t pid = fork();
  if (pid == 0) {
    setpgid(0, 0);
    dup2(input ? inPipe[0] : devNull, 0);
    dup2(outPipe[1], 1);
    dup2(errPipe[1], 2);
    execChild(workingDirectory, argv, parent);
  }
  close(outPipe[1]);
  close(errPipe[1]);
  if (inPipe[0] >= 0) close(inPipe[0]);
  if (devNull >= 0) close(devNull);
  if (pid < 0) {
    for (int fd : {outPipe[0], errPipe[0], inPipe[1]})
      if (fd >= 0) close(fd);
    return result;
  }
  setpgid(pid, pid);
  // A child that stops reading its input must not kill the test with SIGPIPE.
  signal(SIGPIPE, SIG_IGN);
  setNonBlocking(outPipe[0]);
  setNonBlocking(errPipe[0]);
  if (inPipe[1] >= 0) setNonBlocking(inPipe[1]);
  Channels c;
  c.pid = pid;
  c.out = outPipe[0];
  c.err = errPipe[0];
  c.in = inPipe[1];
  supervise(c, {}, input, 20, timeoutSeconds, result);
  close(outPipe[0]);
  close(errPipe[0]);
  if (c.in >= 0) close(c.in);
  return result;
}

RunResult runToolPiped(const std::vector<std::string>& arguments,
                       const std::string& workingDirectory, std::optional<std::string> input) {
  return runPiped(toolBinary(), arguments, std::move(input), workingDirectory);
}

std::string normalizeLineEnds(const std::string& raw) {
  std::string text;
  text.reserve(raw.size());
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') continue;
    text += raw[i];
  }
  return text;
}

}  // namespace tandrel::testing
