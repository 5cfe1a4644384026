#include "structs/debug_form.hpp"

#include <utf8proc.h>

#include <charconv>

#include "structs/number_format.hpp"

namespace kestrel {
namespace {

constexpr char kHex[] = "0123456789abcdef";

// Characters that a quoted text shows as they are: printable characters that
// are not grapheme extenders (combining marks and the like).
bool shown_as_is(utf8proc_int32_t c) {
  switch (utf8proc_category(c)) {
    case UTF8PROC_CATEGORY_CC:
    case UTF8PROC_CATEGORY_CF:
    case UTF8PROC_CATEGORY_CS:
    case UTF8PROC_CATEGORY_CO:
    case UTF8PROC_CATEGORY_CN:
    case UTF8PROC_CATEGORY_ZL:
    case UTF8PROC_CATEGORY_ZP:
      return false;
    case UTF8PROC_CATEGORY_ZS:
      return c == ' ';
    default:
      // The grapheme class Extend holds the grapheme extenders and the five
      // emoji skin-tone modifiers, which are printable.
      return utf8proc_get_property(c)->boundclass != UTF8PROC_BOUNDCLASS_EXTEND ||
             (c >= 0x1f3fb && c <= 0x1f3ff);
  }
}

void append_unicode_escape(std::string& out, utf8proc_int32_t c) {
  char digits[8];
  const auto res = std::to_chars(digits, digits + sizeof digits, c, 16);
  out += "\\u{";
  out.append(digits, res.ptr);
  out += '}';
}

// Appends the escaped form of the character starting at text[i] and returns
// the number of bytes it took.
std::size_t append_escaped_char(std::string& out, std::string_view text, std::size_t i) {
  const auto byte = static_cast<unsigned char>(text[i]);
  switch (byte) {
    case '\t':
      out += "\\t";
      return 1;
    case '\r':
      out += "\\r";
      return 1;
    case '\n':
      out += "\\n";
      return 1;
    case '\0':
      out += "\\0";
      return 1;
    case '"':
      out += "\\\"";
      return 1;
    case '\\':
      out += "\\\\";
      return 1;
    default:
      break;
  }
  utf8proc_int32_t c = 0;
  const auto length = utf8proc_iterate(reinterpret_cast<const utf8proc_uint8_t*>(text.data() + i),
                                       static_cast<utf8proc_ssize_t>(text.size() - i), &c);
  if (length <= 0) {
    out += "\\x";
    out += kHex[byte >> 4];
    out += kHex[byte & 0xf];
    return 1;
  }
  if (shown_as_is(c)) {
    out.append(text.substr(i, static_cast<std::size_t>(length)));
  } else {
    append_unicode_escape(out, c);
  }
  return static_cast<std::size_t>(length);
}

// The marks around the items of a record, a tuple and a list (in the order of
// DebugWriter::Kind), in the compact and the pretty layout.
struct Marks {
  std::string_view open_compact, open_pretty, close_compact, close_pretty;
};
constexpr Marks kMarks[] = {{" { ", " {", " }", "}"}, {"(", "(", ")", ")"}, {"[", "[", "]", "]"}};

bool plain_ascii(unsigned char b) {
  return b >= 0x20 && b < 0x7f && b != '"' && b != '\\';
}

}  // namespace

void append_indented(std::string& out, std::string_view text, std::size_t indent) {
  std::size_t start = 0;
  for (std::size_t nl = text.find('\n'); nl != std::string_view::npos;
       nl = text.find('\n', start)) {
    out += text.substr(start, nl + 1 - start);
    start = nl + 1;
    if (start < text.size() && text[start] != '\n')
      out.append(indent, ' ');
  }
  out += text.substr(start);
}

void DebugWriter::token(std::string_view text) {
  if (!pretty_ || frames_.empty()) {
    out_ += text;
    return;
  }
  append_indented(out_, text, 4 * frames_.size());
}

void DebugWriter::quoted(std::string_view text) {
  out_ += '"';
  std::size_t i = 0;
  while (i < text.size()) {
    std::size_t run = i;
    while (run < text.size() && plain_ascii(static_cast<unsigned char>(text[run])))
      ++run;
    out_ += text.substr(i, run - i);
    i = run;
    if (i < text.size())
      i += append_escaped_char(out_, text, i);
  }
  out_ += '"';
}

void DebugWriter::value(bool v) {
  out_ += v ? "true" : "false";
}

void DebugWriter::value(double v) {
  out_ += float_debug(v);
}

void DebugWriter::signed_value(std::int64_t v) {
  out_ += std::to_string(v);
}

void DebugWriter::unsigned_value(std::uint64_t v) {
  out_ += std::to_string(v);
}

void DebugWriter::open(std::string_view name, Kind kind) {
  out_ += name;
  frames_.push_back(Frame{kind, !name.empty(), false});
}

void DebugWriter::begin_item(std::string_view field_name) {
  if (frames_.empty())
    return;
  Frame& frame = frames_.back();
  if (!frame.has_items) {
    frame.has_items = true;
    const Marks& marks = kMarks[static_cast<std::size_t>(frame.kind)];
    out_ += pretty_ ? marks.open_pretty : marks.open_compact;
    if (pretty_)
      newline_indent(frames_.size());
  } else if (pretty_) {
    newline_indent(frames_.size());
  } else {
    out_ += ", ";
  }
  if (!field_name.empty()) {
    out_ += field_name;
    out_ += ": ";
  }
}

void DebugWriter::end_item() {
  if (pretty_ && !frames_.empty())
    out_ += ',';
}

void DebugWriter::close(bool non_exhaustive) {
  if (frames_.empty())
    return;
  const Frame frame = frames_.back();
  const Kind kind = frame.kind;
  const std::size_t level = frames_.size() - 1;
  frames_.pop_back();
  if (!frame.has_items) {
    if (kind == Kind::List) {
      out_ += "[]";
    } else if (kind == Kind::Record && non_exhaustive) {
      out_ += " { .. }";
    } else if (kind == Kind::Tuple && !frame.named) {
      out_ += "()";
    }
    return;
  }
  if (non_exhaustive) {
    if (pretty_) {
      newline_indent(level + 1);
      out_ += "..";
    } else {
      out_ += ", ..";
    }
  }
  if (pretty_)
    newline_indent(level);
  const Marks& marks = kMarks[static_cast<std::size_t>(kind)];
  out_ += pretty_ ? marks.close_pretty : marks.close_compact;
}

void DebugWriter::newline_indent(std::size_t level) {
  out_ += '\n';
  out_.append(4 * level, ' ');
}

}  // namespace kestrel
