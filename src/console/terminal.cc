#include "console/terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "console/interrupt.h"
#include "console/output.h"

namespace tandrel {

namespace {

struct termios savedMode;
volatile sig_atomic_t rawActive = 0;

bool inputIsTerminal() { return isatty(STDIN_FILENO) == 1; }

// One byte, or -1 at the end of input, or -2 when interrupted by a signal.
int readByte() {
  unsigned char byte;
  for (;;) {
    struct pollfd waits[2] = {{STDIN_FILENO, POLLIN, 0}, {interruptWakeDescriptor(), POLLIN, 0}};
    if (poll(waits, waits[1].fd >= 0 ? 2 : 1, -1) < 0 && errno != EINTR) return -1;
    if (interruptRequested()) return -2;
    if (waits[0].revents == 0) continue;
    ssize_t got = read(STDIN_FILENO, &byte, 1);
    if (got == 1) return byte;
    if (got == 0) return -1;
    if (errno != EINTR) return -1;
    if (interruptRequested()) return -2;
  }
}

// The next byte if one arrives within `milliseconds`, else -1.
int readByteSoon(int milliseconds) {
  struct pollfd poller = {STDIN_FILENO, POLLIN, 0};
  if (poll(&poller, 1, milliseconds) != 1) return -1;
  int byte = readByte();
  return byte < 0 ? -1 : byte;
}

// Reads the rest of a key that starts with `first` on a terminal. Escape
// sequences and multi-byte characters are one key each: the Up arrow (ESC [ A)
// must never count as the letter A.
int finishKey(int first, std::string& bytes) {
  bytes.assign(1, static_cast<char>(first));
  if (first == 0x1b) {
    int second = readByteSoon(50);
    if (second < 0) return kOtherKey;
    bytes.push_back(static_cast<char>(second));
    if (second == '[') {
      // CSI: parameter and intermediate bytes up to a final byte 0x40..0x7e.
      for (int i = 0; i < 32; ++i) {
        int next = readByteSoon(50);
        if (next < 0) break;
        bytes.push_back(static_cast<char>(next));
        if (next >= 0x40 && next <= 0x7e) break;
      }
    } else if (second == 'O') {
      int next = readByteSoon(50);
      if (next >= 0) bytes.push_back(static_cast<char>(next));
    }
    return kOtherKey;
  }
  int continuation = first >= 0xf0 ? 3 : first >= 0xe0 ? 2 : first >= 0xc0 ? 1 : 0;
  if (continuation == 0) return first;
  for (int i = 0; i < continuation; ++i) {
    int next = readByteSoon(50);
    if (next < 0) break;
    bytes.push_back(static_cast<char>(next));
  }
  return kOtherKey;
}

// What a terminal shows for the key: printable text as is, a control key as ^X,
// an escape sequence as nothing (echoing it would move the cursor).
std::string echoOf(int key, const std::string& bytes) {
  if (key == kOtherKey) return bytes[0] == 0x1b ? std::string() : bytes;
  if (key == '\r' || key == '\n') return std::string();
  if (key < 0x20 || key == 0x7f) return std::string{'^', static_cast<char>(key ^ 0x40)};
  return bytes;
}

void echoOnTerminal(const std::string& text) {
  if (text.empty()) return;
  int tty = open("/dev/tty", O_WRONLY | O_NOCTTY | O_CLOEXEC);
  int fd = tty >= 0 ? tty : STDOUT_FILENO;
  ssize_t ignored = write(fd, text.data(), text.size());
  (void)ignored;
  if (tty >= 0) close(tty);
}

// Raw mode: no line input, no echo, no signal keys. `when` is TCSAFLUSH to drop
// keys typed so far in the same step, TCSANOW to keep them.
bool enterRawMode(int when) {
  if (rawActive) return true;
  if (tcgetattr(STDIN_FILENO, &savedMode) != 0) return false;
  struct termios raw = savedMode;
  raw.c_lflag &= ~(ICANON | ECHO | ISIG | IEXTEN);
  raw.c_iflag &= ~(IXON | ICRNL | INLCR | IGNCR);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  rawActive = 1;
  tcsetattr(STDIN_FILENO, when, &raw);
  return true;
}

int readFromTerminal() {
  if (!enterRawMode(TCSANOW)) return kEndOfInput;
  int first = readByte();
  std::string bytes;
  int key = first < 0 ? kEndOfInput : finishKey(first, bytes);
  restoreTerminal();
  if (key != kEndOfInput) echoOnTerminal(echoOf(key, bytes));
  return key;
}

// Input that has ended stays ended (a pipe whose writers are gone, a file read
// to its end), and an interruption stays requested, so every later question
// reads the end again without anything to remember.
int readFromPipe() {
  for (;;) {
    int byte = readByte();
    if (byte < 0) return kEndOfInput;
    // Line breaks let a script put one answer per line.
    if (byte == '\n' || byte == '\r') continue;
    char echo = static_cast<char>(byte);
    outText(std::string_view(&echo, 1));
    return byte;
  }
}

}  // namespace

int readKeyEcho() {
  outText("");
  if (interruptRequested()) {
    restoreTerminal();
    return kEndOfInput;
  }
  return inputIsTerminal() ? readFromTerminal() : readFromPipe();
}

void prepareForKey() {
  if (inputIsTerminal()) enterRawMode(TCSAFLUSH);
}

void restoreTerminal() {
  if (!rawActive) return;
  tcsetattr(STDIN_FILENO, TCSANOW, &savedMode);
  rawActive = 0;
}

}  // namespace tandrel
