#include "tui/text.hpp"

#include <utf8proc.h>

#include "tui/glyphs.hpp"

namespace kestrel::tui {
namespace detail {

namespace {
constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

bool is_hidden(utf8proc_category_t c) {
  return c == UTF8PROC_CATEGORY_CC || c == UTF8PROC_CATEGORY_CF || c == UTF8PROC_CATEGORY_ZL ||
         c == UTF8PROC_CATEGORY_ZP;
}
}  // namespace

std::optional<Glyph> GlyphReader::next() {
  while (!rest_.empty()) {
    utf8proc_int32_t code = 0;
    const auto n = utf8proc_iterate(reinterpret_cast<const utf8proc_uint8_t*>(rest_.data()),
                                    static_cast<utf8proc_ssize_t>(rest_.size()), &code);
    if (n <= 0 || code < 0) {
      rest_.remove_prefix(1);
      return Glyph{kReplacement, 0xFFFD, 1};
    }
    const std::string_view bytes = rest_.substr(0, static_cast<std::size_t>(n));
    rest_.remove_prefix(static_cast<std::size_t>(n));
    if (is_hidden(utf8proc_category(code)))
      continue;
    const int width = utf8proc_charwidth(code);
    return Glyph{bytes, static_cast<char32_t>(code),
                 static_cast<std::uint8_t>(width < 0 ? 0 : width)};
  }
  return std::nullopt;
}

}  // namespace detail

std::size_t display_width(std::string_view text) {
  std::size_t width = 0;
  detail::GlyphReader reader(text);
  while (const auto g = reader.next())
    width += g->width;
  return width;
}

std::size_t Line::width() const {
  std::size_t width = 0;
  for (const Span& s : spans)
    width += display_width(s.content);
  return width;
}

std::vector<Line> split_lines(std::string_view text) {
  std::vector<Line> lines;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    lines.emplace_back(std::string(text.substr(0, end)));
    if (end == std::string_view::npos)
      break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

}  // namespace kestrel::tui
