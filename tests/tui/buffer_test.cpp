#include "tui/buffer.hpp"

#include <gtest/gtest.h>

#include "tui/text.hpp"

namespace kestrel::tui {
namespace {

using Rows = std::vector<std::string>;

TEST(Text, WidthInColumns) {
  EXPECT_EQ(
      display_width("Use ↓↑ to move, ←→ to change status widget and ↲ to validate configuration."),
      75u);
  EXPECT_EQ(display_width("世界"), 4u);
  EXPECT_EQ(display_width("e\xCC\x81"), 1u);            // e + combining acute
  EXPECT_EQ(display_width("a\x1b[2Jb\r\n\t\x7f"), 5u);  // controls count nothing
  EXPECT_EQ(display_width("\xC2\x9B"
                          "1"),
            1u);                              // C1 control (CSI) too
  EXPECT_EQ(display_width("a\xFF\xFE"), 3u);  // one U+FFFD per bad byte
  EXPECT_EQ(display_width(""), 0u);
}

TEST(Text, SplitLinesAtLineFeeds) {
  EXPECT_EQ(split_lines(""), std::vector<Line>{});
  EXPECT_EQ(split_lines("a\nb"), (std::vector<Line>{"a", "b"}));
  EXPECT_EQ(split_lines("a\n"), (std::vector<Line>{"a"}));
  EXPECT_EQ(split_lines("\n\nc"), (std::vector<Line>{"", "", "c"}));
}

TEST(Buffer, SetStringClipsAndPatchesStyle) {
  Buffer b(Rect{2, 1, 6, 2});
  b.set_style(Rect{0, 0, 100, 100}, Style{}.bg(Color::Blue));
  EXPECT_EQ(b.set_string(3, 1, "abcdefgh", Style{}.fg(Color::Red)), 8);
  EXPECT_EQ(b.set_string(2, 2, "xyz", {}, 2), 4);
  EXPECT_EQ(b.set_string(1, 2, "outside", {}), 1);
  EXPECT_EQ(b.set_string(3, 7, "outside", {}), 3);
  EXPECT_EQ(buffer_rows(b), (Rows{" abcde", "xy    "}));
  EXPECT_EQ(b.at(3, 1).style, Style{}.fg(Color::Red).bg(Color::Blue));
  EXPECT_EQ(b.at(2, 2).style, Style{}.bg(Color::Blue));
  b.reset();
  EXPECT_EQ(b, Buffer(Rect{2, 1, 6, 2}));
}

TEST(Buffer, ControlCharactersNeverReachACell) {
  Buffer b(Rect{0, 0, 12, 1});
  b.set_string(0, 0,
               "a\x1b]0;pwned\x07z\r\n\t\x1b[2J\xC2\x9B"
               "5m!",
               {});
  EXPECT_EQ(buffer_rows(b), (Rows{"a]0;pwnedz[2"}));
  for (std::uint16_t x = 0; x < 12; ++x) {
    for (unsigned char ch : b.at(x, 0).symbol)
      EXPECT_GE(ch, 0x20) << "column " << x;
  }
}

TEST(Buffer, InvalidUtf8IsDrawnAsReplacement) {
  Buffer b(Rect{0, 0, 5, 1});
  b.set_string(0, 0,
               "a\xE2\x82"
               "b\xC0",
               {});
  EXPECT_EQ(buffer_rows(b), (Rows{"a��b�"}));
}

TEST(Buffer, WideCharactersTakeTwoCells) {
  Buffer b(Rect{0, 0, 5, 1});
  EXPECT_EQ(b.set_string(0, 0, "世界世", {}), 4);  // the last one does not fit whole
  EXPECT_EQ(buffer_rows(b), (Rows{"世界 "}));
  EXPECT_EQ(b.at(0, 0).symbol, "世");
  EXPECT_EQ(b.at(1, 0).symbol, "");
  // Overwriting one half of a wide character blanks the other half.
  b.set_string(1, 0, "x", {});
  b.set_string(2, 0, "y", {});
  EXPECT_EQ(buffer_rows(b), (Rows{" xy  "}));
}

TEST(Buffer, CombiningMarksJoinTheirCell) {
  Buffer b(Rect{0, 0, 3, 1});
  b.set_string(0, 0,
               "e\xCC\x81"
               "x",
               {});
  EXPECT_EQ(b.at(0, 0).symbol, "e\xCC\x81");
  EXPECT_EQ(b.at(1, 0).symbol, "x");
  // A mark with no character before it in the text is dropped; marks are capped.
  b.set_string(2, 0, "\xCC\x81", {});
  EXPECT_EQ(b.at(2, 0).symbol, " ");
  b.set_string(0, 0, "o\xCC\x81\xCC\x81\xCC\x81\xCC\x81\xCC\x81\xCC\x81", {});
  EXPECT_EQ(b.at(0, 0).symbol.size(), 1u + 4 * 2);
}

}  // namespace
}  // namespace kestrel::tui
