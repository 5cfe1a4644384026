#include "tui/terminal.hpp"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace kestrel::tui {
namespace {

using namespace std::chrono_literals;

// A Terminal on the slave side of a pseudo-terminal; the test plays the user's
// terminal emulator on the master side.
class TerminalOnPty : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TERM", "xterm-256color", 1);
    unsetenv("LINES");
    unsetenv("COLUMNS");
    winsize ws{24, 80, 0, 0};
    ASSERT_EQ(openpty(&master_, &slave_, nullptr, nullptr, &ws), 0);
    out_ = fdopen(dup(slave_), "w");
    in_ = fdopen(dup(slave_), "r");
  }

  void TearDown() override {
    terminal_.reset();
    std::fclose(out_);
    std::fclose(in_);
    close(slave_);
    if (master_ >= 0)
      close(master_);
  }

  Terminal& open() {
    auto t = Terminal::open(out_, in_);
    EXPECT_TRUE(t.has_value()) << (t ? "" : t.error().message);
    terminal_.emplace(std::move(*t));
    return *terminal_;
  }

  // Everything the program wrote to the terminal so far.
  std::string drain() const {
    std::string got;
    pollfd p{master_, POLLIN, 0};
    char chunk[4096];
    while (poll(&p, 1, 100) > 0 && (p.revents & POLLIN) != 0) {
      const ssize_t n = read(master_, chunk, sizeof chunk);
      if (n <= 0)
        break;
      got.append(chunk, static_cast<std::size_t>(n));
    }
    return got;
  }

  void type(std::string_view keys) const {
    ASSERT_EQ(write(master_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
  }

  // Types `typed` and reads one key from it.
  std::optional<Key> key(std::string_view typed) {
    type(typed);
    auto k = terminal_->read_key(500ms);
    EXPECT_TRUE(k.has_value());
    return k.value_or(std::nullopt);
  }

  int master_ = -1;
  int slave_ = -1;
  std::FILE* out_ = nullptr;
  std::FILE* in_ = nullptr;
  std::optional<Terminal> terminal_;
};

void status_screen(Buffer& buf, Rect area, std::string_view text) {
  buf.set_string(area.x, area.y, text, Style{}.fg(Color::White));
  buf.set_string(area.x, static_cast<std::uint16_t>(area.bottom() - 1), "bottom 世界", {});
}

TEST_F(TerminalOnPty, WritesOnlyWhatChanged) {
  Terminal& t = open();
  ASSERT_TRUE(t.draw([](Buffer& b, Rect a) { status_screen(b, a, "Scanning"); }));
  const std::string first = drain();
  EXPECT_NE(first.find("\x1b[?1049h"), std::string::npos);  // alternate screen
  EXPECT_NE(first.find("Scanning"), std::string::npos);
  EXPECT_NE(first.find("世界"), std::string::npos);
  EXPECT_EQ(t.size(), (Rect{0, 0, 80, 24}));

  ASSERT_TRUE(t.draw([](Buffer& b, Rect a) { status_screen(b, a, "Scanning"); }));
  EXPECT_EQ(drain(), "");  // an idle frame writes nothing

  ASSERT_TRUE(t.draw([](Buffer& b, Rect a) { status_screen(b, a, "ScanninG"); }));
  const std::string third = drain();
  EXPECT_NE(third.find('G'), std::string::npos);
  EXPECT_EQ(third.find("Scannin"), std::string::npos);
  EXPECT_LT(third.size(), 40u) << third;
}

// Without colours the highlight (a background) and the gauge's filled part
// (blue) are reverse video and the focus (white) bold; other colours take no
// attribute.
TEST_F(TerminalOnPty, HighlightAndFocusWithoutColours) {
  for (const char* type : {"xterm-mono", "vt100"}) {
    SCOPED_TRACE(type);
    setenv("TERM", type, 1);
    Terminal& t = open();
    ASSERT_TRUE(t.draw([](Buffer& b, Rect) {
      b.set_string(0, 0, "░", Style{}.bg(Color::Blue).add_modifier(Modifier::Italic));
      b.set_string(2, 0, "▒", Style{}.fg(Color::White));
      b.set_string(4, 0, "▓", Style{}.fg(Color::DarkGray));
      b.set_string(6, 0, "━", Style{}.fg(Color::Blue));
      b.set_string(8, 0, "─", Style{}.fg(Color::Red));
    }));
    const std::string shown = drain();
    // The parameters of the last SGR sequence written before `text`.
    const auto attributes_of = [&](std::string_view text) {
      const std::size_t sgr = shown.rfind("\x1b[", shown.find(text));
      if (sgr == std::string::npos)
        return std::string();
      return ";" + shown.substr(sgr + 2, shown.find('m', sgr) - sgr - 2) + ";";
    };
    EXPECT_THAT(attributes_of("░"), ::testing::HasSubstr(";7;"));
    EXPECT_THAT(attributes_of("▒"), ::testing::HasSubstr(";1;"));
    EXPECT_THAT(attributes_of("▓"), ::testing::AnyOf(";;", ";0;"));
    EXPECT_THAT(attributes_of("━"), ::testing::HasSubstr(";7;"));
    EXPECT_THAT(attributes_of("─"), ::testing::AnyOf(";;", ";0;"));
    terminal_.reset();
    drain();
  }
}

TEST_F(TerminalOnPty, NewWindowSizeOnTheNextFrame) {
  Terminal& t = open();
  ASSERT_TRUE(t.draw([](Buffer&, Rect) {}));
  winsize ws{30, 100, 0, 0};
  ASSERT_EQ(ioctl(master_, TIOCSWINSZ, &ws), 0);
  Rect seen{};
  ASSERT_TRUE(t.draw([&](Buffer& b, Rect a) {
    seen = a;
    EXPECT_EQ(b.area(), a);
  }));
  EXPECT_EQ(seen, (Rect{0, 0, 100, 30}));
  EXPECT_EQ(t.size(), seen);
}

TEST_F(TerminalOnPty, KeyPresses) {
  Terminal& t = open();
  EXPECT_EQ(key("\r"), Key{KeyCode::Enter});
  EXPECT_EQ(key("\x1bOA"), Key{KeyCode::Up});
  EXPECT_EQ(key("\x1bOB"), Key{KeyCode::Down});
  EXPECT_EQ(key("\x1bOD"), Key{KeyCode::Left});
  EXPECT_EQ(key("\x1bOC"), Key{KeyCode::Right});
  EXPECT_EQ(key("q"), Key::character(U'q'));
  EXPECT_EQ(key("Q"), Key::character(U'Q'));
  EXPECT_EQ(key("é"), Key::character(U'é'));
  EXPECT_EQ(key("\x1b[3~"), Key{KeyCode::Other});  // Delete
  EXPECT_EQ(key("\t"), Key{KeyCode::Other});

  // Modifiers are not looked at: Alt+j, Ctrl with a letter (Ctrl+C arrives as
  // a key; Ctrl+J is a line feed, not Enter), an arrow with Shift, Alt or Ctrl.
  EXPECT_EQ(key("\x1bj"), Key::character(U'j'));
  EXPECT_EQ(key("\x03"), Key::character(U'c'));
  EXPECT_EQ(key("\x11"), Key::character(U'q'));
  EXPECT_EQ(key("\n"), Key::character(U'j'));
  EXPECT_EQ(key("\x0b"), Key::character(U'k'));
  EXPECT_EQ(key("\x08"), Key::character(U'h'));
  EXPECT_EQ(key("\x0c"), Key::character(U'l'));
  EXPECT_EQ(key("\x1b[1;2A"), Key{KeyCode::Up});
  EXPECT_EQ(key("\x1b[1;5B"), Key{KeyCode::Down});
  EXPECT_EQ(key("\x1b[1;3D"), Key{KeyCode::Left});
  EXPECT_EQ(key("\x1b[1;6C"), Key{KeyCode::Right});

  // Esc alone comes after the short escape delay, not after a second.
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(key("\x1b"), Key{KeyCode::Esc});
  EXPECT_LT(std::chrono::steady_clock::now() - start, 300ms);

  const auto waited = std::chrono::steady_clock::now();
  auto none = t.read_key(16ms);
  ASSERT_TRUE(none.has_value());
  EXPECT_EQ(*none, std::nullopt);
  EXPECT_GE(std::chrono::steady_clock::now() - waited, 10ms);
}

// tmux's default terminal type lists no modified arrows and takes ESC [ M
// for a mouse report; terminals send the xterm forms all the same.
TEST_F(TerminalOnPty, EscapeSequencesUnderATypeThatDoesNotListThem) {
  setenv("TERM", "screen", 1);
  Terminal& t = open();
  EXPECT_EQ(key("\x1b[1;5A"), Key{KeyCode::Up});
  EXPECT_EQ(key("\x1b[1;2B"), Key{KeyCode::Down});
  EXPECT_EQ(key("\x1b[1;3C"), Key{KeyCode::Right});
  EXPECT_EQ(key("\x1b[1;8D"), Key{KeyCode::Left});
  EXPECT_EQ(key("\x1b[A"), Key{KeyCode::Up});
  EXPECT_EQ(key("\x1bO5B"), Key{KeyCode::Down});
  EXPECT_EQ(key("\x1bOD"), Key{KeyCode::Left});

  // Any other sequence is one key that does nothing, its bytes never keys: a
  // click at column 81 reports the byte 'q', at column 200 a byte above 127.
  EXPECT_EQ(key("\x1b[M q*"), Key{KeyCode::Other});
  EXPECT_EQ(key("\x1b[M \xe8*"), Key{KeyCode::Other});
  EXPECT_EQ(key("\x1b[<0;81;10M"), Key{KeyCode::Other});
  EXPECT_EQ(key("\x1b[15~"), Key{KeyCode::Other});
  EXPECT_EQ(key("\x1b[1;5P"), Key{KeyCode::Other});
  EXPECT_EQ(key("\x1bOP"), Key{KeyCode::Other});

  // The keypad Enter, and Alt with a key that sends a sequence: Esc, then
  // that sequence, which counts alone. Esc twice is Esc.
  EXPECT_EQ(key("\x1bOM"), Key{KeyCode::Enter});
  EXPECT_EQ(key("\x1b\x1bOM"), Key{KeyCode::Enter});
  EXPECT_EQ(key("\x1b\x1b[A"), Key{KeyCode::Up});
  EXPECT_EQ(key("\x1b\x1bOB"), Key{KeyCode::Down});
  EXPECT_EQ(key("\x1b\x1b[11~"), Key{KeyCode::Other});
  EXPECT_EQ(key("\x1b\x1b"), Key{KeyCode::Esc});

  EXPECT_EQ(key("\x1bj"), Key::character(U'j'));
  EXPECT_EQ(key("\x1b"), Key{KeyCode::Esc});
  auto none = t.read_key(16ms);
  ASSERT_TRUE(none.has_value());
  EXPECT_EQ(*none, std::nullopt);

  // rxvt names its shifted arrows in extended capabilities alone.
  terminal_.reset();
  setenv("TERM", "rxvt-unicode-256color", 1);
  open();
  EXPECT_EQ(key("\x1b[a"), Key{KeyCode::Up});
  EXPECT_EQ(key("\x1b[b"), Key{KeyCode::Down});
}

// Terminals send control strings (OSC, DCS, APC, PM, SOS) as late replies, and
// other programs leave them in the input: each is one key that does nothing,
// the letters inside never keys (q would quit). It runs to ST, an OSC also to
// BEL; one cut short ends at a pause, and the keys typed after it count.
TEST_F(TerminalOnPty, ControlStringsAreOneKey) {
  for (const char* type : {"xterm-256color", "screen"}) {
    SCOPED_TRACE(type);
    setenv("TERM", type, 1);
    Terminal& t = open();
    EXPECT_EQ(key("\x1b]0;quiet\x07j"), Key{KeyCode::Other});
    EXPECT_EQ(t.read_key(500ms), Key::character(U'j'));
    EXPECT_EQ(key("\x1b]ljob\x1b\\k"), Key{KeyCode::Other});
    EXPECT_EQ(t.read_key(500ms), Key::character(U'k'));
    // However long it is, as a clipboard reply may be.
    EXPECT_EQ(key("\x1b]52;c;" + std::string(6000, 'q') + "\x07j"), Key{KeyCode::Other});
    EXPECT_EQ(t.read_key(500ms), Key::character(U'j'));
    EXPECT_EQ(key("\x1bP1$r0m\x1b\\"), Key{KeyCode::Other});    // DCS
    EXPECT_EQ(key("\x1b_Gi=1;OK\x1b\\"), Key{KeyCode::Other});  // APC
    EXPECT_EQ(key("\x1b^q\x07q\x1b\\"), Key{KeyCode::Other});   // PM, BEL inside
    EXPECT_EQ(key("\x1bXhjkl\x1b\\"), Key{KeyCode::Other});     // SOS
    EXPECT_EQ(key("\x1b\x1b]11;rgb:0/0/0\x07"), Key{KeyCode::Other});
    EXPECT_EQ(key("\x1b]2;ti"), Key{KeyCode::Other});  // Alt+] and letters, then a pause
    EXPECT_EQ(key("j"), Key::character(U'j'));
    EXPECT_EQ(key("\x1b]"), Key{KeyCode::Other});
    EXPECT_EQ(key("q"), Key::character(U'q'));
    terminal_.reset();
  }
}

// A key that arrives just as a wait ends is read whole: looking for the end
// of the input must not take the first byte of an escape sequence.
TEST_F(TerminalOnPty, KeysTypedByAThreadAsWaitsEndStayWhole) {
  Terminal& t = open();
  constexpr int kTyped = 300;
  std::thread user([&] {
    for (int i = 0; i < kTyped; ++i) {
      type("\x1bOB");
      std::this_thread::sleep_for(std::chrono::microseconds(50 + (i * 37) % 400));
    }
  });
  int downs = 0;
  std::vector<Key> others;
  const auto deadline = std::chrono::steady_clock::now() + 60s;
  while (downs + static_cast<int>(others.size()) < kTyped &&
         std::chrono::steady_clock::now() < deadline) {
    const auto k = t.read_key(0ms);
    ASSERT_TRUE(k.has_value()) << k.error().message;
    if (*k == Key{KeyCode::Down})
      ++downs;
    else if (k->has_value())
      others.push_back(**k);
  }
  user.join();
  EXPECT_EQ(downs, kTyped);
  EXPECT_TRUE(others.empty()) << others.size() << " other keys";
}

TEST_F(TerminalOnPty, ClosedInputIsAnError) {
  Terminal& t = open();
  close(master_);
  master_ = -1;
  const auto k = t.read_key(200ms);
  ASSERT_FALSE(k.has_value());
  EXPECT_EQ(k.error().message, "the terminal input has closed");
  // The output is gone too: the frame ends before anything is drawn.
  bool drawn = false;
  const auto frame = t.draw([&](Buffer&, Rect) { drawn = true; });
  ASSERT_FALSE(frame.has_value());
  EXPECT_EQ(frame.error().message, "the window size could not be read: Input/output error");
  EXPECT_FALSE(drawn);
}

// ncurses drops its write errors; the frame must not pass for drawn.
TEST_F(TerminalOnPty, OutputThatIsRefusedEndsTheFrame) {
  Terminal& t = open();
  ASSERT_TRUE(t.draw([](Buffer& b, Rect a) { status_screen(b, a, "x"); }));
  const int read_only = ::open(ttyname(slave_), O_RDONLY | O_NOCTTY);
  ASSERT_GE(read_only, 0);
  ASSERT_EQ(dup2(read_only, fileno(out_)), fileno(out_));
  close(read_only);
  const auto frame = t.draw([](Buffer& b, Rect a) { status_screen(b, a, "y"); });
  ASSERT_FALSE(frame.has_value());
  EXPECT_EQ(frame.error().message, "the frame could not be written: Bad file descriptor");
}

// Input that is not a terminal (no controlling terminal, standard input
// redirected): its keys are read, then its end is an error, not an idle wait.
TEST_F(TerminalOnPty, InputAtItsEndIsAnError) {
  int pipe_fds[2];
  ASSERT_EQ(pipe(pipe_fds), 0);
  ASSERT_EQ(write(pipe_fds[1], "j", 1), 1);
  close(pipe_fds[1]);
  std::fclose(in_);
  in_ = fdopen(pipe_fds[0], "r");
  Terminal& t = open();
  EXPECT_EQ(t.read_key(200ms), Key::character(U'j'));
  EXPECT_FALSE(t.read_key(200ms).has_value());
  terminal_.reset();

  std::fclose(in_);
  in_ = std::fopen("/dev/null", "r");
  const auto k = open().read_key(200ms);
  ASSERT_FALSE(k.has_value());
  EXPECT_EQ(k.error().message, "the terminal input has closed");
}

// A terminal type without cursor visibility control: nothing was hidden, so
// giving the terminal back reports no failure to show the cursor.
TEST_F(TerminalOnPty, NoCursorControlIsNoRestoreFailure) {
  setenv("TERM", "vt100", 1);
  Terminal& t = open();
  ASSERT_TRUE(t.draw([](Buffer&, Rect) {}));
  const Terminal::RestoreOutcome outcome = t.restore();
  EXPECT_FALSE(outcome.cursor.has_value());
  EXPECT_FALSE(outcome.screen.has_value());
}

TEST_F(TerminalOnPty, RestoreIsIdempotent) {
  Terminal& t = open();
  ASSERT_TRUE(t.draw([](Buffer& b, Rect a) { status_screen(b, a, "x"); }));
  drain();
  const Terminal::RestoreOutcome outcome = t.restore();
  EXPECT_FALSE(outcome.cursor.has_value());
  EXPECT_FALSE(outcome.screen.has_value());
  const std::string restored = drain();
  EXPECT_NE(restored.find("\x1b[?1049l"), std::string::npos);  // alternate screen left
  EXPECT_NE(restored.find("\x1b[?25h"), std::string::npos);    // cursor shown
  t.restore();
  EXPECT_EQ(drain(), "");
  EXPECT_FALSE(t.draw([](Buffer&, Rect) {}).has_value());
  EXPECT_FALSE(t.read_key(1ms).has_value());
  terminal_.reset();  // the destructor does not restore again
  EXPECT_EQ(drain(), "");
}

// A terminal of another user (after su) cannot be opened again by name: the
// signal-safe way back puts the modes back at once and names the descriptor
// the program holds, once.
TEST_F(TerminalOnPty, TheSignalSafeWayBackOnAnotherUsersTerminal) {
  ASSERT_EQ(fchmod(slave_, 0), 0);
  const pid_t pid = fork();
  if (pid == 0) {
    if (getuid() == 0 && setuid(65534) != 0)  // root opens any file
      std::_Exit(3);
    Terminal& t = open();
    if (!t.draw([](Buffer& b, Rect a) { status_screen(b, a, "x"); }))
      std::_Exit(4);
    const auto way_back = seize_terminal_from_signal();
    if (!way_back || way_back->fd != fileno(out_) || seize_terminal_from_signal())
      std::_Exit(5);
    const auto n = write(way_back->fd, way_back->bytes.data(), way_back->bytes.size());
    std::_Exit(n == static_cast<ssize_t>(way_back->bytes.size()) ? 0 : 6);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  const std::string written = drain();
  EXPECT_NE(written.find("\x1b[?1049l"), std::string::npos);
  EXPECT_NE(written.find("\x1b[?25h"), std::string::npos);
  termios modes{};
  ASSERT_EQ(tcgetattr(slave_, &modes), 0);
  EXPECT_EQ(modes.c_lflag & (ICANON | ECHO), static_cast<tcflag_t>(ICANON | ECHO));
}

// A job stopped (Ctrl+Z) and resumed after the way back stays on the normal
// screen with the modes given back: ncurses' own stop handler, which would
// set raw mode and the alternate screen again, is gone.
TEST_F(TerminalOnPty, AStopAfterTheSignalSafeWayBackLeavesTheTerminalNormal) {
  const pid_t pid = fork();
  if (pid == 0) {
    Terminal& t = open();
    if (!t.draw([](Buffer& b, Rect a) { status_screen(b, a, "x"); }))
      std::_Exit(4);
    const auto way_back = seize_terminal_from_signal();
    if (!way_back || write(way_back->fd, way_back->bytes.data(), way_back->bytes.size()) < 0)
      std::_Exit(5);
    raise(SIGTSTP);
    std::_Exit(0);
  }
  int status = 0;
  while (waitpid(pid, &status, WUNTRACED) == pid && WIFSTOPPED(status))
    kill(pid, SIGCONT);  // fg
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  const std::string written = drain();
  const auto way_back = written.rfind("\x1b[?1049l");
  ASSERT_NE(way_back, std::string::npos);
  EXPECT_EQ(written.find("\x1b[?1049h", way_back), std::string::npos);
  termios modes{};
  ASSERT_EQ(tcgetattr(slave_, &modes), 0);
  EXPECT_EQ(modes.c_lflag & (ICANON | ECHO), static_cast<tcflag_t>(ICANON | ECHO));
}

TEST_F(TerminalOnPty, OneAtATimeAndFailuresAreValues) {
  open();
  auto second = Terminal::open(out_, in_);
  ASSERT_FALSE(second.has_value());
  EXPECT_EQ(second.error().message, "a terminal is already open");
  terminal_.reset();

  std::FILE* file = std::tmpfile();
  auto not_a_tty = Terminal::open(file, in_);
  std::fclose(file);
  ASSERT_FALSE(not_a_tty.has_value());
  EXPECT_EQ(not_a_tty.error().message, "the output is not a terminal");

  setenv("TERM", "no-such-terminal", 1);
#if defined(__SANITIZE_ADDRESS__)
  __lsan::ScopedDisabler ncurses_keeps_its_failed_screen;
#endif
  auto unknown = Terminal::open(out_, in_);
  ASSERT_FALSE(unknown.has_value());
  EXPECT_EQ(unknown.error().message, "cannot use the terminal type \"no-such-terminal\"");

  // Known, but a frame cannot be placed on it; its modes are left as they were.
  setenv("TERM", "dumb", 1);
  termios before{};
  ASSERT_EQ(tcgetattr(slave_, &before), 0);
  auto dumb = Terminal::open(out_, in_);
  ASSERT_FALSE(dumb.has_value());
  EXPECT_EQ(dumb.error().message, "the terminal type \"dumb\" cannot move the cursor");
  termios after{};
  ASSERT_EQ(tcgetattr(slave_, &after), 0);
  EXPECT_EQ(after.c_lflag, before.c_lflag);

  setenv("TERM", "xterm-256color", 1);
  EXPECT_TRUE(Terminal::open(out_, in_).has_value());  // nothing was left held
}

}  // namespace
}  // namespace kestrel::tui
