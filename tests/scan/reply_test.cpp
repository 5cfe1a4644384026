// The reply text decoding and the prompt search, split prompts included.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "scan/command.hpp"
#include "scan/utf8.hpp"

namespace kestrel {
namespace {

std::vector<std::uint8_t> bytes(std::string_view text) {
  return {text.begin(), text.end()};
}

std::string decode(std::string_view text) {
  return decode_utf8_lossy(bytes(text));
}

TEST(DecodeUtf8Lossy, ReplacesEachMaximalSubpartOnce) {
  const std::string r = "\uFFFD";
  struct Case {
    std::string_view in;
    std::string out;
  };
  const Case cases[] = {
      {"", ""},
      {"version\r\nch", "version\r\nch"},
      {"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
      {"a\xFF"
       "b",
       "a" + r + "b"},
      {"\xE2\x82", r},  // truncated at the end
      {"\xF0\x9F\x98"
       "A",
       r + "A"},                                 // truncated before ASCII
      {"\xC0\xAF", r + r},                       // overlong lead
      {"\xE0\x80\x80", r + r + r},               // overlong three-byte form
      {"\xED\xA0\x80", r + r + r},               // surrogate
      {"\xF4\x90\x80\x80", r + r + r + r},       // above U+10FFFF
      {"\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF"},  // U+10FFFF itself
      // The Unicode Standard's own example of maximal subparts.
      {"\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64",
       "a" + r + r + r + "b" + r + "c" + r + r + "d"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(decode(c.in), c.out) << testing::PrintToString(c.in);
}

// Feeds the chunks one by one; gives the bytes kept and the index of the
// chunk that held the end of a prompt (-1 when none did).
std::pair<std::string, int> feed(const std::vector<std::string_view>& chunks) {
  std::vector<std::uint8_t> received;
  for (std::size_t i = 0; i < chunks.size(); ++i) {
    if (reply_end_finder().append_until_prompt(received, bytes(chunks[i]))) {
      return {std::string(received.begin(), received.end()), static_cast<int>(i)};
    }
  }
  return {std::string(received.begin(), received.end()), -1};
}

TEST(PromptFinder, EndsTheReplyAtTheFirstPromptWhereverItsBytesArrive) {
  using Result = std::pair<std::string, int>;
  EXPECT_EQ(feed({"ch> "}), Result("", 0));
  EXPECT_EQ(feed({"abc", "info\r\nch> tail"}), Result("abcinfo\r\n", 1));
  EXPECT_EQ(feed({"1ch>2ch>"}), Result("1", 0));
  EXPECT_EQ(feed({"no prompt", "c", "h", "x>"}), Result("no promptchx>", -1));
  // Split across reads.
  EXPECT_EQ(feed({"reply c", "h> rest"}), Result("reply ", 1));
  EXPECT_EQ(feed({"reply ch", "> rest"}), Result("reply ", 1));
  EXPECT_EQ(feed({"reply ", "c", "h", ">"}), Result("reply ", 3));
  EXPECT_EQ(feed({"c", "h>"}), Result("", 1));
  // A split prompt starts before one inside the next chunk.
  EXPECT_EQ(feed({"ac", "h>bch>"}), Result("a", 1));
  EXPECT_EQ(feed({"cc", "h>"}), Result("c", 1));
}

}  // namespace
}  // namespace kestrel
