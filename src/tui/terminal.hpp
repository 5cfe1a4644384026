#pragma once
// The only part of the toolkit that talks to the terminal (ncurses, wide
// build). Opening it prepares the terminal: UTF-8 locale, raw mode (Ctrl+C
// arrives as a key), no echo, keypad keys, alternate screen, hidden cursor,
// colours over the terminal's default background (on a terminal without
// colours, reverse video for a background or a blue foreground and bold for
// white), a short Esc delay.
// Restoring undoes that and is safe to call more than once; signal and crash
// handlers take the terminal back on their own (seize_terminal_from_signal).
// One Terminal can be open at a time.

#include <chrono>
#include <cstdio>
#include <expected>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "tui/buffer.hpp"
#include "tui/rect.hpp"

namespace kestrel::tui {

struct TerminalError {
  std::string message;
};

enum class KeyCode : std::uint8_t { Enter, Esc, Up, Down, Left, Right, Char, Other };

struct Key {
  KeyCode code = KeyCode::Other;
  char32_t ch = 0;  // the character, for KeyCode::Char only

  static constexpr Key character(char32_t c) { return Key{KeyCode::Char, c}; }
  bool operator==(const Key&) const = default;
};

class Terminal {
 public:
  // Prepares the terminal whose output is `out` and input `in` (by default
  // standard output and input). Fails, without exiting and with nothing left
  // changed, when `out` is not a terminal, the terminal type is unknown or
  // cannot move the cursor, or another Terminal is open.
  static std::expected<Terminal, TerminalError> open(std::FILE* out = stdout,
                                                     std::FILE* in = stdin);

  Terminal(Terminal&&) noexcept;
  Terminal& operator=(Terminal&&) noexcept;
  ~Terminal();  // restores the terminal and frees what ncurses holds

  // Draws one frame: `draw_frame` gets a blank Buffer the size of the window
  // and that whole area; then the cells that differ from the previous frame
  // are copied to the screen and the screen is refreshed (a frame with
  // nothing changed writes nothing). A new window size is picked up here: the
  // buffer then takes the new size and the whole screen is redrawn. Fails
  // when the window size cannot be read (before anything is drawn), when the
  // screen cannot be updated or the terminal no longer takes output (hung
  // up), or when the terminal was restored. After seize_terminal_from_signal
  // it waits for the process to end instead, as read_key does.
  std::expected<void, TerminalError> draw(const std::function<void(Buffer&, Rect)>& draw_frame);

  // Waits up to `timeout` for one key press. Nothing when none came in time
  // (a window resize also gives nothing: the next draw adapts). Enter is CR
  // or the keypad Enter (also ESC O M under any terminal type); Esc comes at
  // once (25 ms escape delay), and so does Esc twice; a printable
  // character is Char. Modifiers are not looked at: an arrow with Shift, Alt
  // or Ctrl is the arrow, also in the xterm form under a terminal type that
  // does not list it, and Alt or Ctrl with a letter is the letter (Ctrl+I
  // stays Tab, Ctrl+M Enter); Alt with a key that sends a sequence is the
  // key. Any other key is Other, and so is any other escape sequence, read
  // whole (mouse reports included), and any control string (OSC, DCS, APC, PM,
  // SOS: a terminal's late reply), read up to ST, an OSC also up to BEL, or
  // to a pause of the escape delay, whichever comes first, so that
  // its letters never act and keys typed after Alt+] still count. Fails when
  // the input has ended: end of file, or a terminal that hung up or closed.
  std::expected<std::optional<Key>, TerminalError> read_key(std::chrono::milliseconds timeout);

  // The window area of the last frame drawn (empty before the first).
  Rect size() const;

  // What giving the terminal back ran into: the cursor could not be shown,
  // or raw mode and the alternate screen could not be left. Both empty when
  // all went well (also on a second call, which does nothing).
  struct RestoreOutcome {
    std::optional<TerminalError> cursor;
    std::optional<TerminalError> screen;
  };

  // Shows the cursor, leaves raw mode and the alternate screen. Idempotent.
  RestoreOutcome restore() noexcept;

 private:
  struct Impl;
  explicit Terminal(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

// The way back to the terminal's normal screen for a process that a signal
// or crash ends: the bytes that reset the attributes, leave keypad mode and
// the alternate screen and show the cursor, and the descriptor they go to.
struct WayBack {
  int fd;
  std::string_view bytes;
};

// Takes the open Terminal, if any, back for a signal or crash that ends the
// process, with async-signal-safe calls alone: the terminal modes of before
// the open are set back at once (that never waits on output), and so is
// SIGTSTP's default action, so that a job stopped and resumed meanwhile does
// not go back to the full screen; the bytes of the way back are returned for
// the caller to write where waiting is harmless. Nothing when no terminal is
// open, when it was taken already, or after a restore has finished; also
// works while a restore waits on a terminal that stopped reading.
std::optional<WayBack> seize_terminal_from_signal() noexcept;

}  // namespace kestrel::tui
