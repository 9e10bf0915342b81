// The keyboard side of the console: one key at a time.
#pragma once

namespace tandrel {

// What readKeyEcho returns besides plain byte values (0..255).
inline constexpr int kOtherKey = 0x100;    // a key that is not one byte: an escape
                                           // sequence or a multi-byte character
inline constexpr int kEndOfInput = 0x101;  // standard input is exhausted (or the
                                           // run was interrupted while waiting)

// Waits for one key and returns it. On a terminal the wait runs in raw mode (no
// line input, no echo, no signal keys: Ctrl+C arrives as byte 3), which is
// always restored afterwards, and the key is echoed on the terminal. From a pipe
// or a file, keys are single bytes of standard input, line breaks skipped, and
// the key is echoed to standard output.
int readKeyEcho();

// Called before a question is printed. On a terminal it drops the keys typed so
// far, so a stray key never answers the question, and switches to raw mode
// already, so that a key typed while the question is being printed is neither
// echoed by the terminal nor turned into a signal; readKeyEcho then takes it.
// Does nothing when standard input is not a terminal.
void prepareForKey();

// Puts the terminal back as it was if a wait left it in raw mode. Safe to call
// from a signal handler.
void restoreTerminal();

}  // namespace tandrel
