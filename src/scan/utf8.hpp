#pragma once
// Lossy UTF-8 decoding of the instrument's replies.

#include <cstdint>
#include <span>
#include <string>

namespace kestrel {

// Valid UTF-8 sequences are copied unchanged; each maximal subpart of an
// ill-formed sequence becomes one U+FFFD (the Unicode Standard's "substitution
// of maximal subparts"). Never fails.
std::string decode_utf8_lossy(std::span<const std::uint8_t> bytes);

}  // namespace kestrel
