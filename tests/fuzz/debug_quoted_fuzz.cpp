// DebugWriter::quoted on arbitrary bytes, in both layouts. The quoted text
// must be valid UTF-8 without raw control characters (C0, DEL, C1), and
// undoing its escapes must give back exactly the input bytes.

#include <cstdint>
#include <optional>
#include <string>

#include "fuzz_support.hpp"
#include "structs/debug_form.hpp"

namespace {

using kestrel::fuzz::check;

void append_utf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::optional<unsigned> hex_digit(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return std::nullopt;
}

// The bytes that `quoted` stands for: the text between the quotes with
// \" \\ \t \r \n \0 \u{hex} and \xHH undone. nullopt when it is not a
// well-formed quoted text.
std::optional<std::string> unquote(std::string_view q) {
  if (q.size() < 2 || q.front() != '"' || q.back() != '"')
    return std::nullopt;
  q = q.substr(1, q.size() - 2);
  std::string out;
  for (std::size_t i = 0; i < q.size(); ++i) {
    if (q[i] == '"')
      return std::nullopt;  // an unescaped quote inside
    if (q[i] != '\\') {
      out += q[i];
      continue;
    }
    if (++i == q.size())
      return std::nullopt;
    switch (q[i]) {
      case '"':
      case '\\':
        out += q[i];
        break;
      case 't':
        out += '\t';
        break;
      case 'r':
        out += '\r';
        break;
      case 'n':
        out += '\n';
        break;
      case '0':
        out += '\0';
        break;
      case 'x': {
        if (q.size() - i < 3)
          return std::nullopt;
        auto hi = hex_digit(q[i + 1]), lo = hex_digit(q[i + 2]);
        if (!hi || !lo)
          return std::nullopt;
        out += static_cast<char>(*hi << 4 | *lo);
        i += 2;
        break;
      }
      case 'u': {
        if (++i == q.size() || q[i] != '{')
          return std::nullopt;
        char32_t cp = 0;
        std::size_t digits = 0;
        for (++i; i < q.size() && q[i] != '}'; ++i, ++digits) {
          auto d = hex_digit(q[i]);
          if (!d || digits == 6)
            return std::nullopt;
          cp = cp << 4 | *d;
        }
        if (i == q.size() || digits == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
          return std::nullopt;
        append_utf8(out, cp);
        break;
      }
      default:
        return std::nullopt;
    }
  }
  return out;
}

bool has_raw_control(std::string_view s) {
  char32_t cp;
  for (std::size_t i = 0; i < s.size();) {
    if (!kestrel::fuzz::next_code_point(s, i, cp))
      return true;
    if (cp < 0x20 || (cp >= 0x7F && cp <= 0x9F))
      return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input = kestrel::fuzz::as_text(data, size);
  for (bool pretty : {false, true}) {
    std::string out;
    kestrel::DebugWriter writer(out, pretty);
    writer.quoted(input);
    check(kestrel::fuzz::valid_utf8(out), "quoted text is valid UTF-8");
    check(!has_raw_control(out), "quoted text holds no raw control character");
    const auto back = unquote(out);
    check(back.has_value(), "quoted text is well formed");
    check(*back == input, "undoing the escapes gives back the input");
  }
  return 0;
}
