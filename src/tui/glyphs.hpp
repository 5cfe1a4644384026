#pragma once
// Internal: walks UTF-8 text as the characters that get drawn, so that
// measuring and drawing agree on every character.

#include <cstdint>
#include <optional>
#include <string_view>

namespace kestrel::tui::detail {

struct Glyph {
  std::string_view bytes;  // the character's UTF-8 (U+FFFD for invalid input)
  char32_t code;
  std::uint8_t width;  // columns: 1 or 2, or 0 for a mark that joins the previous cell
};

class GlyphReader {
 public:
  explicit GlyphReader(std::string_view text) : rest_(text) {}
  // The next drawable character; control and format characters are skipped,
  // each invalid byte gives U+FFFD. Nothing once the text is used up.
  std::optional<Glyph> next();

 private:
  std::string_view rest_;
};

}  // namespace kestrel::tui::detail
