#pragma once
// Styled text: a Span is a run of text in one style, a Line a row of spans.
// Widths are terminal columns: each character counts as utf8proc says (the
// arrows ←↑→↓↲ one column, CJK two, combining marks none); control
// characters count nothing, as they are never drawn; each byte of invalid
// UTF-8 counts as one U+FFFD.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "tui/style.hpp"

namespace kestrel::tui {

enum class Alignment : std::uint8_t { Left, Center, Right };

// Columns that `text` takes when drawn on one row.
std::size_t display_width(std::string_view text);

struct Span {
  std::string content;
  Style style;
  bool operator==(const Span&) const = default;
};

struct Line {
  std::vector<Span> spans;

  // Implicit, so that plain text can stand wherever a Line is asked for.
  Line() = default;
  Line(std::string text) : spans{Span{std::move(text), {}}} {}
  Line(const char* text) : Line(std::string(text)) {}
  Line(std::vector<Span> s) : spans(std::move(s)) {}

  std::size_t width() const;
  bool operator==(const Line&) const = default;
};

// Splits `text` at each line feed into unstyled lines ("a\nb" gives two lines,
// "a\n" one, "" none).
std::vector<Line> split_lines(std::string_view text);

}  // namespace kestrel::tui
