#include "scan/utf8.hpp"

#include <cstddef>
#include <string_view>

namespace kestrel {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// Length of the sequence that lead byte `b` opens and the range allowed for
// its second byte; later continuation bytes are always 0x80..0xBF.
struct Lead {
  std::size_t continuations;  // 0: not a valid lead byte
  std::uint8_t low;
  std::uint8_t high;
};

constexpr Lead classify(std::uint8_t b) {
  if (b >= 0xC2 && b <= 0xDF)
    return {1, 0x80, 0xBF};
  if (b == 0xE0)
    return {2, 0xA0, 0xBF};  // no overlong forms
  if (b == 0xED)
    return {2, 0x80, 0x9F};  // no surrogates
  if (b >= 0xE1 && b <= 0xEF)
    return {2, 0x80, 0xBF};
  if (b == 0xF0)
    return {3, 0x90, 0xBF};  // no overlong forms
  if (b >= 0xF1 && b <= 0xF3)
    return {3, 0x80, 0xBF};
  if (b == 0xF4)
    return {3, 0x80, 0x8F};  // nothing above U+10FFFF
  return {0, 0, 0};
}

}  // namespace

std::string decode_utf8_lossy(std::span<const std::uint8_t> bytes) {
  std::string out;
  out.reserve(bytes.size());
  const std::size_t n = bytes.size();
  std::size_t i = 0;
  while (i < n) {
    const std::uint8_t b = bytes[i];
    if (b < 0x80) {
      out.push_back(static_cast<char>(b));
      ++i;
      continue;
    }
    const Lead lead = classify(b);
    // Walk the continuation bytes; the first one out of range (or the end of
    // the input) closes the maximal subpart, which is replaced as a whole.
    std::size_t j = i + 1;
    bool complete = lead.continuations != 0;
    for (std::size_t k = 0; k < lead.continuations; ++k, ++j) {
      const std::uint8_t low = k == 0 ? lead.low : 0x80;
      const std::uint8_t high = k == 0 ? lead.high : 0xBF;
      if (j >= n || bytes[j] < low || bytes[j] > high) {
        complete = false;
        break;
      }
    }
    if (complete) {
      out.append(reinterpret_cast<const char*>(bytes.data() + i), j - i);
    } else {
      out.append(kReplacement);
    }
    i = j;
  }
  return out;
}

}  // namespace kestrel
