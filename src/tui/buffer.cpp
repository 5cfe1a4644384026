#include "tui/buffer.hpp"

namespace kestrel::tui {
Buffer::Buffer(Rect area) : area_(area), cells_(area.area()) {}
void Buffer::set_style(Rect, const Style&) {}
std::uint16_t Buffer::set_string(std::uint16_t x, std::uint16_t, std::string_view, const Style&,
                                 std::uint16_t) {
  return x;
}
std::uint16_t Buffer::set_line(std::uint16_t x, std::uint16_t, const Line&, std::uint16_t) {
  return x;
}
void Buffer::reset() {}
std::vector<std::string> buffer_rows(const Buffer&) {
  return {};
}
}  // namespace kestrel::tui
