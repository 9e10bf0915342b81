// Runs a program (by default the built tool) the way a user would: under a
// pseudo-terminal, answering its questions with scripted keys, or with its
// standard input and output on pipes. Every run is bounded in time: a child
// that does not finish is killed with its process group and the result says so.
#pragma once

#include <optional>
#include <string>
#include <termios.h>
#include <vector>

namespace tandrel::testing {

// One step of the dialogue: wait until the output, after the place where the
// previous step's text was found, contains waitFor (an empty waitFor matches at
// once); then send the bytes of send (keys; "\r" is Enter on a terminal) and,
// if signal is not 0, send that signal to the child.
//
// waitForKeyRead: when waitFor is not empty and the step sends keys or a
// signal, also wait until the terminal has left canonical mode, that is until
// the program really waits for a single key. Without it a key can land in the
// moment between a question appearing and the switch to raw mode, where the
// terminal itself still echoes it (and Ctrl+C still raises SIGINT). Turn it off
// to type ahead on purpose.
struct PtyStep {
  std::string waitFor;
  std::string send;
  int signal = 0;
  bool waitForKeyRead = true;
};

struct RunResult {
  // What the program wrote to its standard output (on a terminal: everything
  // the terminal showed, echo included), with "\r\n" turned into "\n".
  std::string output;
  std::string rawOutput;  // the bytes as they came
  // What the program wrote to its standard error (kept apart in both modes).
  std::string errorOutput;
  int exitCode = -1;  // exit status 0..255 when it exited, else -1
  int signal = 0;     // the signal that ended it, else 0
  bool timedOut = false;
  // The waitFor text of the step that never appeared, when a step timed out.
  std::string stuckAt;
  // In step order, for each step with a non-empty waitFor whose text was
  // found: whether the terminal was already out of canonical mode when the
  // harness first saw the text. A program that switches to raw mode before
  // printing its question always gives true; one that switches after printing
  // may give false (or true, if it was quick).
  std::vector<bool> rawWhenTextSeen;
  // Pseudo-terminal mode before the start and after the end (pty mode only).
  std::optional<termios> terminalBefore;
  std::optional<termios> terminalAfter;

  bool exitedWith(int code) const { return signal == 0 && !timedOut && exitCode == code; }
  // True when the terminal is back in the mode it had before the run
  // (canonical input, echo, signal keys and input translation).
  bool terminalRestored() const;
  // Exit status, time-out, standard error and the whole output, for messages.
  std::string describe() const;
};

class PtyRun {
 public:
  std::string program;  // defaults to the built tool
  std::vector<std::string> arguments;
  std::string workingDirectory;  // empty: the test's own
  std::vector<PtyStep> steps;
  // Longest wait for one step's text, and for the whole run.
  int stepTimeoutSeconds = 20;
  int timeoutSeconds = 60;

  PtyRun();
  RunResult run() const;
};

// The built tool under a terminal.
RunResult runTool(const std::vector<std::string>& arguments, const std::string& workingDirectory,
                  const std::vector<PtyStep>& steps = {});

// A program with its standard input from input (or /dev/null when there is
// none) and its standard output and error captured from pipes.
RunResult runPiped(const std::string& program, const std::vector<std::string>& arguments,
                   std::optional<std::string> input, const std::string& workingDirectory,
                   int timeoutSeconds = 60);
// The built tool with pipes.
RunResult runToolPiped(const std::vector<std::string>& arguments,
                       const std::string& workingDirectory,
                       std::optional<std::string> input = std::nullopt);

// What a terminal showed as the program wrote it: "\r\n" turned into "\n".
std::string normalizeLineEnds(const std::string& raw);

// The path of the built tool.
std::string toolBinary();
// The quoted, escaped form of a byte string, for messages.
std::string quoted(const std::string& text);

}  // namespace tandrel::testing
