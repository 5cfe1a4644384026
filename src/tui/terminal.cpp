#include "tui/terminal.hpp"

#ifndef NCURSES_WIDECHAR
#define NCURSES_WIDECHAR 1
#endif
#include <langinfo.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <curses.h>
#include <term.h>
#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <string_view>
#include <utility>
#include <vector>

#include "tui/glyphs.hpp"

namespace kestrel::tui {

namespace {

// A Terminal object exists.
std::atomic<bool> g_open{false};

// Where the terminal stands: given back (or never taken), in curses mode,
// being given back through ncurses, or taken back by a signal handler on the
// way to the end of the process.
enum class Mode : std::uint8_t { Closed, Active, Leaving, Seized };
std::atomic<Mode> g_mode{Mode::Closed};
static_assert(std::atomic<Mode>::is_always_lock_free);

// The cursor was hidden at set-up (a terminal may have no way to hide it, and
// then none to show it either).
std::atomic<bool> g_cursor_hidden{false};

// The terminal description's string `name`, or null when it has none
// (tigetstr tells "absent" and "not a string" apart; both count as none).
const char* terminfo_string(const char* name) {
  const char* value = tigetstr(name);
  return value == reinterpret_cast<const char*>(-1) ? nullptr : value;
}

// What a signal handler needs to give the terminal back without ncurses: the
// terminal's modes from before set-up, and the bytes that reset the
// attributes, leave keypad mode, show the cursor and leave the alternate
// screen. Taken at open.
struct SavedTerminal {
  int fd = -1;
  termios modes{};
  std::array<char, 256> leave{};
  std::size_t leave_size = 0;
};
SavedTerminal g_saved;

// tputs' output function, collecting into g_saved.leave.
int collect_leave_byte(int byte) {
  if (g_saved.leave_size < g_saved.leave.size())
    g_saved.leave[g_saved.leave_size++] = static_cast<char>(byte);
  return byte;
}

void save_way_back(int fd, const termios& modes) {
  g_saved.fd = fd;
  g_saved.modes = modes;
  g_saved.leave_size = 0;
  for (const char* cap : {"sgr0", "rmkx", "cnorm", "rmcup"}) {
    if (const char* sequence = terminfo_string(cap))
      tputs(sequence, 1, collect_leave_byte);
  }
}

// A draw or key read after a signal handler took the terminal back: that
// handler is ending the process, so nothing more is drawn and no error is
// raised that could end it first.
[[noreturn]] void wait_for_the_end() {
  for (;;)
    ::pause();
}

// Fails once the terminal has been given back.
std::expected<void, TerminalError> usable() {
  const Mode mode = g_mode.load();
  if (mode == Mode::Seized)
    wait_for_the_end();
  if (mode != Mode::Active)
    return std::unexpected(TerminalError{"the terminal has been restored"});
  return {};
}

// Shows the cursor and leaves curses mode through ncurses, once per open.
Terminal::RestoreOutcome give_back() noexcept {
  Terminal::RestoreOutcome outcome;
  Mode active = Mode::Active;
  if (!g_mode.compare_exchange_strong(active, Mode::Leaving))
    return outcome;
  // A signal handler may take the terminal back while ncurses waits here on
  // a terminal that stopped reading.
  if (g_cursor_hidden.exchange(false) && curs_set(1) == ERR)
    outcome.cursor = TerminalError{"the terminal cannot show its cursor"};
  if (endwin() == ERR)
    outcome.screen = TerminalError{"the terminal's normal mode could not be set back"};
  Mode leaving = Mode::Leaving;
  g_mode.compare_exchange_strong(leaving, Mode::Closed);
  return outcome;
}

constexpr int kEscDelayMs = 25;
constexpr std::size_t kColors = 6;  // the values of Color

// Picks a UTF-8 character type from the environment, or C.UTF-8 when the
// environment names none, so that wide characters are drawn as such.
void use_utf8_locale() {
  std::setlocale(LC_CTYPE, "");
  if (std::strcmp(nl_langinfo(CODESET), "UTF-8") != 0)
    std::setlocale(LC_CTYPE, "C.UTF-8");
}

// After a wait that brought no key: true when the input can bring none any
// more (end of file, a hung-up or closed terminal). It only looks, so a key
// that arrives meanwhile stays whole for ncurses to read.
bool input_ended(int fd) {
  pollfd p{fd, POLLIN, 0};
  if (poll(&p, 1, 0) <= 0)
    return false;  // nothing to read yet (or interrupted)
  if ((p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0)
    return true;
  // Readable with nothing to read is an end of file; an input that cannot
  // count what it holds (/dev/null) has no keys to give either.
  int pending = 0;
  return ioctl(fd, FIONREAD, &pending) != 0 || pending == 0;
}

std::string system_error(std::string_view what) {
  return std::string(what) + ": " + std::strerror(errno);
}

// The arrows with Shift, Alt or Ctrl held have key codes of their own; the
// shifted ones are fixed, the others are found by their terminfo names.
std::vector<std::pair<int, KeyCode>> modified_arrows() {
  std::vector<std::pair<int, KeyCode>> found{{KEY_SR, KeyCode::Up},
                                             {KEY_SF, KeyCode::Down},
                                             {KEY_SLEFT, KeyCode::Left},
                                             {KEY_SRIGHT, KeyCode::Right}};
  constexpr std::array<std::pair<std::string_view, KeyCode>, 4> kNames{{{"kUP", KeyCode::Up},
                                                                        {"kDN", KeyCode::Down},
                                                                        {"kLFT", KeyCode::Left},
                                                                        {"kRIT", KeyCode::Right}}};
  for (const auto& [name, arrow] : kNames) {
    // Shift alone (rxvt's kUP), then Alt, Alt+Shift, Ctrl, ...
    for (const std::string_view level : {"", "3", "4", "5", "6", "7"}) {
      const std::string cap = std::string(name) + std::string(level);
      const char* sequence = terminfo_string(cap.c_str());
      if (sequence == nullptr)
        continue;
      if (const int code = key_defined(sequence); code > 0)
        found.emplace_back(code, arrow);
    }
  }
  return found;
}

// What follows ESC to make a sequence read whole: CSI and SS3, then the
// control strings OSC, DCS, APC, PM and SOS.
constexpr std::wstring_view kIntroducers = L"[O]P_^X";
constexpr std::wstring_view kStringIntroducers = kIntroducers.substr(2);

// The rest of a control string, read up to ST (ESC \), an OSC also up to BEL,
// however long it is; a pause ends it too, so Alt+] followed by typed letters
// loses none of them.
Key rest_of_string(wint_t introducer) {
  int previous = 0;
  for (;;) {
    const int byte = wgetch(stdscr);
    if (byte == ERR || (previous == 0x1B && byte == '\\') || (introducer == L']' && byte == 0x07))
      break;
    previous = byte;
  }
  return Key{KeyCode::Other};
}

// The rest of an escape sequence that ncurses did not know, after ESC and
// its introducer (one of kIntroducers), read byte by byte up to its final
// byte; the X10 mouse report (CSI M) takes three raw bytes more. An arrow in
// the xterm form, plain or with modifiers ("1;5"), is the arrow under any
// terminal type, and so is the keypad Enter (SS3 M); every other sequence,
// control strings included, is one key that does nothing.
Key rest_of_sequence(wint_t introducer) {
  wtimeout(stdscr, kEscDelayMs);  // a sequence arrives whole; this bounds a cut one
  if (kStringIntroducers.contains(static_cast<wchar_t>(introducer)))
    return rest_of_string(introducer);
  bool only_numbers = true;
  for (bool first = true;; first = false) {
    const int byte = wgetch(stdscr);
    if (introducer == L'[' && first && byte == 'M') {
      for (int i = 0; i < 3; ++i)
        wgetch(stdscr);
      return Key{KeyCode::Other};
    }
    if (byte >= 0x40 && byte <= 0x7E) {  // the final byte
      constexpr std::string_view kArrows = "ABCD";
      constexpr std::array<KeyCode, 4> kCodes{KeyCode::Up, KeyCode::Down, KeyCode::Right,
                                              KeyCode::Left};
      const auto arrow = kArrows.find(static_cast<char>(byte));
      if (only_numbers && arrow != std::string_view::npos)
        return Key{kCodes[arrow]};
      if (only_numbers && introducer == L'O' && byte == 'M')
        return Key{KeyCode::Enter};
      return Key{KeyCode::Other};
    }
    if (byte < 0x20 || byte > 0x3F)
      return Key{KeyCode::Other};  // cut short, or not a sequence after all
    only_numbers = only_numbers && ((byte >= '0' && byte <= '9') || byte == ';');
  }
}

Key key_of(int kind, wint_t ch, const std::vector<std::pair<int, KeyCode>>& arrows) {
  if (kind == KEY_CODE_YES) {
    switch (ch) {
      case KEY_UP:
        return Key{KeyCode::Up};
      case KEY_DOWN:
        return Key{KeyCode::Down};
      case KEY_LEFT:
        return Key{KeyCode::Left};
      case KEY_RIGHT:
        return Key{KeyCode::Right};
      case KEY_ENTER:
        return Key{KeyCode::Enter};
      default:
        for (const auto& [code, arrow] : arrows) {
          if (static_cast<wint_t>(code) == ch)
            return Key{arrow};
        }
        return Key{KeyCode::Other};
    }
  }
  if (ch == L'\r')
    return Key{KeyCode::Enter};
  if (ch == 0x1B)
    return Key{KeyCode::Esc};
  // Ctrl with a letter arrives as its control byte and counts as the letter,
  // but Ctrl+I and Ctrl+M are Tab and Enter on every terminal.
  if (ch >= 0x01 && ch <= 0x1A && ch != L'\t')
    return Key::character(U'a' + static_cast<char32_t>(ch) - 1);
  if (std::iswprint(ch))
    return Key::character(static_cast<char32_t>(ch));
  return Key{KeyCode::Other};
}

}  // namespace

struct Terminal::Impl {
  SCREEN* screen = nullptr;
  std::FILE* in = nullptr;
  std::FILE* out = nullptr;
  Buffer previous;
  bool colours = false;
  bool default_colours = false;
  // Colour pair of each (foreground, background) combination; 0 = not made yet.
  std::array<short, (kColors + 1) * (kColors + 1)> pairs{};
  short next_pair = 1;
  std::vector<std::pair<int, KeyCode>> modified_arrows;

  ~Impl() {
    give_back();
    if (screen != nullptr)
      delscreen(screen);
    g_open = false;
  }

  struct Colour {
    short number;
    bool bold;  // stands in for the bright half of the palette on 8 colours
  };

  // `unset` stands for the terminal's default where it cannot be asked for.
  Colour colour_number(std::optional<Color> c, short unset) const {
    const bool bright = COLORS >= 16;
    if (!c)
      return {static_cast<short>(default_colours ? -1 : unset), false};
    switch (*c) {
      case Color::White:
        return bright ? Colour{15, false} : Colour{COLOR_WHITE, true};
      case Color::Gray:
        return {COLOR_WHITE, false};
      case Color::DarkGray:
        return bright ? Colour{8, false} : Colour{COLOR_BLACK, true};
      case Color::Blue:
        return {COLOR_BLUE, false};
      case Color::Red:
        return {COLOR_RED, false};
      case Color::Yellow:
        return {COLOR_YELLOW, false};
    }
    return {COLOR_WHITE, false};
  }

  static std::size_t slot(std::optional<Color> c) {
    return c ? static_cast<std::size_t>(*c) + 1 : 0;
  }

  // Attributes and colour pair for `style`; pairs are made on first use.
  std::pair<attr_t, short> attributes(const Style& style) {
    attr_t attrs = has(style.modifiers, Modifier::Italic) ? WA_ITALIC : WA_NORMAL;
    if (!colours) {
      // Without colours a background (the highlight) and a blue foreground
      // (the gauge's filled part) show in reverse video, and white (the
      // focus) in bold.
      if (style.background || style.foreground == Color::Blue)
        attrs |= WA_REVERSE;
      if (style.foreground == Color::White)
        attrs |= WA_BOLD;
      return {attrs, 0};
    }
    if (!style.foreground && !style.background)
      return {attrs, 0};
    const Colour fg = colour_number(style.foreground, COLOR_WHITE);
    if (fg.bold)
      attrs |= WA_BOLD;
    short& pair = pairs[slot(style.foreground) * (kColors + 1) + slot(style.background)];
    if (pair == 0 && next_pair < COLOR_PAIRS &&
        init_pair(next_pair, fg.number, colour_number(style.background, COLOR_BLACK).number) ==
            OK) {
      pair = next_pair++;
    }
    return {attrs, pair};
  }

  void put(std::uint16_t x, std::uint16_t y, const Cell& cell) {
    if (cell.symbol.empty())
      return;  // right half of a wide character
    std::array<wchar_t, CCHARW_MAX + 1> text{};
    std::size_t n = 0;
    detail::GlyphReader reader(cell.symbol);
    while (n < CCHARW_MAX) {
      const auto g = reader.next();
      if (!g)
        break;
      text[n++] = static_cast<wchar_t>(g->code);
    }
    const auto [attrs, pair] = attributes(cell.style);
    cchar_t cc;
    setcchar(&cc, text.data(), attrs, pair, nullptr);
    mvwadd_wch(stdscr, y, x, &cc);  // fails harmlessly at the bottom-right corner
  }
};

Terminal::Terminal(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Terminal::Terminal(Terminal&&) noexcept = default;
Terminal& Terminal::operator=(Terminal&&) noexcept = default;
Terminal::~Terminal() = default;

std::expected<Terminal, TerminalError> Terminal::open(std::FILE* out, std::FILE* in) {
  if (g_open.exchange(true))
    return std::unexpected(TerminalError{"a terminal is already open"});
  auto impl = std::make_unique<Impl>();
  impl->in = in;
  impl->out = out;
  if (out == nullptr || in == nullptr || isatty(fileno(out)) == 0) {
    return std::unexpected(TerminalError{"the output is not a terminal"});
  }
  termios modes{};
  ::tcgetattr(fileno(out), &modes);  // cannot fail on a terminal
  use_utf8_locale();
  const char* type = std::getenv("TERM");
  const std::string quoted_type = std::string("\"") + (type != nullptr ? type : "") + "\"";
  impl->screen = newterm(nullptr, out, in);
  if (impl->screen == nullptr)
    return std::unexpected(TerminalError{"cannot use the terminal type " + quoted_type});
  set_term(impl->screen);
  // Every frame places its cells by cursor address.
  if (terminfo_string("cup") == nullptr) {
    ::tcsetattr(fileno(out), TCSANOW, &modes);  // as they were before newterm
    return std::unexpected(
        TerminalError{"the terminal type " + quoted_type + " cannot move the cursor"});
  }
  save_way_back(fileno(out), modes);
  g_mode = Mode::Active;
  raw();
  noecho();
  nonl();
  keypad(stdscr, TRUE);
  // A mouse report is read as one unknown sequence, its bytes never as keys.
  keyok(KEY_MOUSE, FALSE);
  intrflush(stdscr, FALSE);
  set_escdelay(kEscDelayMs);
  impl->modified_arrows = modified_arrows();
  g_cursor_hidden = curs_set(0) != ERR;
  if (has_colors() && start_color() == OK) {
    impl->colours = true;
    impl->default_colours = use_default_colors() == OK;
  }
  return Terminal(std::move(impl));
}

std::expected<void, TerminalError> Terminal::draw(
    const std::function<void(Buffer&, Rect)>& draw_frame) {
  if (auto in_use = usable(); !in_use)
    return in_use;
  const int fd = fileno(impl_->out);
  winsize ws{};
  if (ioctl(fd, TIOCGWINSZ, &ws) != 0)
    return std::unexpected(TerminalError{system_error("the window size could not be read")});
  if (ws.ws_row > 0 && ws.ws_col > 0 && is_term_resized(ws.ws_row, ws.ws_col))
    resize_term(ws.ws_row, ws.ws_col);
  int rows = 0, cols = 0;
  getmaxyx(stdscr, rows, cols);
  const Rect area{0, 0, static_cast<std::uint16_t>(std::max(cols, 0)),
                  static_cast<std::uint16_t>(std::max(rows, 0))};
  Buffer frame(area);
  draw_frame(frame, area);
  // A new size (or the first frame) repaints the whole screen from scratch.
  const bool all = impl_->previous.area() != area;
  if (all)
    clearok(stdscr, TRUE);
  for (std::uint16_t y = 0; y < area.height; ++y) {
    for (std::uint16_t x = 0; x < area.width; ++x) {
      const Cell& cell = frame.at(x, y);
      if (all || cell != impl_->previous.at(x, y))
        impl_->put(x, y, cell);
    }
  }
  impl_->previous = std::move(frame);
  if (wnoutrefresh(stdscr) == ERR || doupdate() == ERR) {
    return std::unexpected(TerminalError{"the screen could not be updated"});
  }
  // ncurses drops its write errors: an empty write tells whether the terminal
  // still takes output (a hung-up one gives EIO).
  if (::write(fd, "", 0) < 0 && errno != EINTR && errno != EAGAIN)
    return std::unexpected(TerminalError{system_error("the frame could not be written")});
  return {};
}

std::expected<std::optional<Key>, TerminalError> Terminal::read_key(
    std::chrono::milliseconds timeout) {
  if (auto in_use = usable(); !in_use)
    return std::unexpected(std::move(in_use.error()));
  wtimeout(stdscr, static_cast<int>(timeout.count()));
  wint_t ch = 0;
  const int kind = wget_wch(stdscr, &ch);
  if (kind == ERR) {
    if (input_ended(fileno(impl_->in)))
      return std::unexpected(TerminalError{"the terminal input has closed"});
    return std::nullopt;
  }
  if (kind == KEY_CODE_YES && ch == KEY_RESIZE)
    return std::nullopt;
  if (kind == OK && ch == 0x1B) {
    // Esc directly followed by more is a sequence ncurses did not know (CSI,
    // SS3 or a control string), or Alt with a key, which is Esc and that
    // key's own bytes, a sequence among them; modifiers are not looked at, so
    // Alt with a key counts as the key alone. Esc twice is Esc.
    wtimeout(stdscr, 0);
    wint_t next = 0;
    int next_kind = wget_wch(stdscr, &next);
    const bool doubled = next_kind == OK && next == 0x1B;
    if (doubled)
      next_kind = wget_wch(stdscr, &next);
    if (next_kind == OK && kIntroducers.contains(static_cast<wchar_t>(next)))
      return rest_of_sequence(next);
    if (next_kind == KEY_CODE_YES || (next_kind == OK && !doubled))
      return key_of(next_kind, next, impl_->modified_arrows);
  }
  return key_of(kind, ch, impl_->modified_arrows);
}

Rect Terminal::size() const {
  return impl_->previous.area();
}

Terminal::RestoreOutcome Terminal::restore() noexcept {
  return give_back();
}

std::optional<WayBack> seize_terminal_from_signal() noexcept {
  Mode mode = g_mode.load();
  do {
    if (mode != Mode::Active && mode != Mode::Leaving)
      return std::nullopt;
  } while (!g_mode.compare_exchange_weak(mode, Mode::Seized));
  ::tcsetattr(g_saved.fd, TCSANOW, &g_saved.modes);
  // ncurses' stop handler would set raw mode and the alternate screen again
  // when the job is resumed. It takes only the default action's place, so
  // that comes back; an ignored SIGTSTP stays ignored.
  struct sigaction stop {};
  if (::sigaction(SIGTSTP, nullptr, &stop) == 0 && stop.sa_handler != SIG_IGN)
    ::signal(SIGTSTP, SIG_DFL);
  return WayBack{g_saved.fd, std::string_view(g_saved.leave.data(), g_saved.leave_size)};
}

}  // namespace kestrel::tui
