#include "tui/terminal.hpp"

namespace kestrel::tui {
struct Terminal::Impl {};
std::expected<Terminal, TerminalError> Terminal::open(std::FILE*, std::FILE*) {
  return std::unexpected(TerminalError{"not yet"});
}
Terminal::Terminal(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Terminal::Terminal(Terminal&&) noexcept = default;
Terminal& Terminal::operator=(Terminal&&) noexcept = default;
Terminal::~Terminal() = default;
std::expected<void, TerminalError> Terminal::draw(const std::function<void(Buffer&, Rect)>&) {
  return {};
}
std::expected<std::optional<Key>, TerminalError> Terminal::read_key(std::chrono::milliseconds) {
  return std::nullopt;
}
Rect Terminal::size() const {
  return {};
}
void Terminal::restore() noexcept {}
void restore_terminal() noexcept {}
}  // namespace kestrel::tui
