// decode_utf8_lossy on arbitrary bytes: the text is always valid UTF-8, valid
// input comes back unchanged, and the text equals a plain reference of the
// substitution of maximal subparts.

#include <cstdint>
#include <span>
#include <string>

#include "fuzz_support.hpp"
#include "scan/utf8.hpp"

namespace {

using kestrel::fuzz::check;
using kestrel::fuzz::next_code_point;

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// Whether some well-formed sequence begins with `p`. Filling the rest with
// 0x80, 0x90, 0xA0 or 0xBF meets every allowed range of a second byte, and
// later bytes take any continuation byte.
bool valid_prefix(std::string_view p) {
  for (char fill : {'\x80', '\x90', '\xA0', '\xBF'}) {
    for (std::size_t len = p.size(); len <= 4; ++len) {
      std::string s(p);
      s.append(len - p.size(), fill);
      std::size_t i = 0;
      char32_t cp;
      if (next_code_point(s, i, cp) && i == s.size())
        return true;
    }
  }
  return false;
}

// The lossy decoding by its definition: well-formed sequences are copied, and
// each maximal subpart (the longest prefix of a well-formed sequence there,
// else one byte) becomes one U+FFFD.
std::string reference(std::string_view in) {
  std::string out;
  for (std::size_t i = 0; i < in.size();) {
    std::size_t j = i;
    char32_t cp;
    if (next_code_point(in, j, cp)) {
      out.append(in.substr(i, j - i));
      i = j;
      continue;
    }
    std::size_t len = 1;
    while (len < 3 && i + len < in.size() && valid_prefix(in.substr(i, len + 1)))
      ++len;
    out.append(kReplacement);
    i += len;
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input = kestrel::fuzz::as_text(data, size);
  const std::string text = kestrel::decode_utf8_lossy(std::span(data, size));
  check(kestrel::fuzz::valid_utf8(text), "decoded text is valid UTF-8");
  if (kestrel::fuzz::valid_utf8(input))
    check(text == input, "valid input passes unchanged");
  check(text == reference(input), "each maximal subpart becomes one replacement");
  return 0;
}
