#include "tui/terminal.hpp"

#ifndef NCURSES_WIDECHAR
#define NCURSES_WIDECHAR 1
#endif
#include <langinfo.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <curses.h>
#include <array>
#include <atomic>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <cwctype>

#include "tui/glyphs.hpp"

namespace kestrel::tui {

namespace {

// A Terminal object exists / the terminal is in curses mode (not restored).
std::atomic<bool> g_open{false};
std::atomic<bool> g_active{false};
// The cursor was hidden at set-up (a terminal may have no way to hide it, and
// then none to show it either).
std::atomic<bool> g_cursor_hidden{false};

constexpr int kEscDelayMs = 25;
constexpr std::size_t kColors = 6;  // the values of Color

// Picks a UTF-8 character type from the environment, or C.UTF-8 when the
// environment names none, so that wide characters are drawn as such.
void use_utf8_locale() {
  std::setlocale(LC_CTYPE, "");
  if (std::strcmp(nl_langinfo(CODESET), "UTF-8") != 0)
    std::setlocale(LC_CTYPE, "C.UTF-8");
}

// True when reading `fd` can bring nothing more: hung up, closed or at EOF.
bool input_closed(int fd) {
  pollfd p{fd, POLLIN, 0};
  if (poll(&p, 1, 0) < 0)
    return false;  // interrupted: nothing known yet
  if ((p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0)
    return true;
  if ((p.revents & POLLIN) != 0) {
    int pending = 0;
    return ioctl(fd, FIONREAD, &pending) == 0 && pending == 0;
  }
  return false;
}

Key key_of(int kind, wint_t ch) {
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
        return Key{KeyCode::Other};
    }
  }
  if (ch == L'\r' || ch == L'\n')
    return Key{KeyCode::Enter};
  if (ch == 0x1B)
    return Key{KeyCode::Esc};
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

  ~Impl() {
    restore_terminal();
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
    if (!colours || (!style.foreground && !style.background))
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
  use_utf8_locale();
  impl->screen = newterm(nullptr, out, in);
  if (impl->screen == nullptr) {
    const char* type = std::getenv("TERM");
    return std::unexpected(TerminalError{std::string("cannot use the terminal type \"") +
                                         (type != nullptr ? type : "") + "\""});
  }
  set_term(impl->screen);
  g_active = true;
  raw();
  noecho();
  nonl();
  keypad(stdscr, TRUE);
  intrflush(stdscr, FALSE);
  set_escdelay(kEscDelayMs);
  g_cursor_hidden = curs_set(0) != ERR;
  if (has_colors() && start_color() == OK) {
    impl->colours = true;
    impl->default_colours = use_default_colors() == OK;
  }
  return Terminal(std::move(impl));
}

std::expected<void, TerminalError> Terminal::draw(
    const std::function<void(Buffer&, Rect)>& draw_frame) {
  if (!g_active)
    return std::unexpected(TerminalError{"the terminal has been restored"});
  winsize ws{};
  if (ioctl(fileno(impl_->out), TIOCGWINSZ, &ws) == 0 && ws.ws_row > 0 && ws.ws_col > 0 &&
      is_term_resized(ws.ws_row, ws.ws_col)) {
    resize_term(ws.ws_row, ws.ws_col);
  }
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
  return {};
}

std::expected<std::optional<Key>, TerminalError> Terminal::read_key(
    std::chrono::milliseconds timeout) {
  if (!g_active)
    return std::unexpected(TerminalError{"the terminal has been restored"});
  wtimeout(stdscr, static_cast<int>(timeout.count()));
  const auto started = std::chrono::steady_clock::now();
  wint_t ch = 0;
  const int kind = wget_wch(stdscr, &ch);
  if (kind == ERR) {
    // A wait cut short with nothing read means the input may be gone.
    if (std::chrono::steady_clock::now() - started < timeout / 2 &&
        input_closed(fileno(impl_->in))) {
      return std::unexpected(TerminalError{"the terminal input has closed"});
    }
    return std::nullopt;
  }
  if (kind == KEY_CODE_YES && ch == KEY_RESIZE)
    return std::nullopt;
  if (kind == OK && ch == 0x1B) {
    // Alt with a key arrives as Esc directly followed by that key; modifiers
    // are not looked at, so it counts as the key alone.
    wtimeout(stdscr, 0);
    wint_t next = 0;
    const int next_kind = wget_wch(stdscr, &next);
    if (next_kind != ERR)
      return key_of(next_kind, next);
  }
  return key_of(kind, ch);
}

Rect Terminal::size() const {
  return impl_->previous.area();
}

Terminal::RestoreOutcome Terminal::restore() noexcept {
  RestoreOutcome outcome;
  if (!g_active.exchange(false))
    return outcome;
  if (g_cursor_hidden.exchange(false) && curs_set(1) == ERR)
    outcome.cursor = TerminalError{"the terminal cannot show its cursor"};
  if (endwin() == ERR)
    outcome.screen = TerminalError{"the terminal's normal mode could not be set back"};
  return outcome;
}

void restore_terminal() noexcept {
  if (!g_active.exchange(false))
    return;
  if (g_cursor_hidden.exchange(false))
    curs_set(1);
  endwin();
}

}  // namespace kestrel::tui
