#include "structs/debug_form.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace kestrel {
namespace {

// A record of the shape the shared cells print: Mutex { data, poisoned, .. }.
struct Cell {
  std::uint64_t data;
  bool poisoned;
};
void debug(DebugWriter& w, const Cell& c) {
  w.record(
      "Mutex",
      [&] {
        w.field("data", c.data);
        w.field("poisoned", c.poisoned);
      },
      true);
}

struct Point {
  double x, y;
};
void debug(DebugWriter& w, const Point& p) {
  w.tuple("", [&] {
    w.element(p.x);
    w.element(p.y);
  });
}

// Holder { progress: Mutex {..}, points: [(..), ..], tag: Some("a") }
struct Holder {
  Cell progress;
  std::vector<Point> points;
  std::optional<std::string> tag;
};
void debug(DebugWriter& w, const Holder& h) {
  w.record("Holder", [&] {
    w.field("progress", h.progress);
    w.field("points", h.points);
    w.field("tag", h.tag);
  });
}

std::string quote_form(std::string_view text) {
  std::string out;
  DebugWriter(out, false).quoted(text);
  return out;
}

TEST(DebugWriterQuoting, EscapesWhatIsNotPrintable) {
  struct Case {
    std::string text, expected;
  };
  const Case cases[] = {
      {"", R"("")"},
      {"COM3 ok", R"("COM3 ok")"},
      {"say \"hi\"\\", R"("say \"hi\"\\")"},
      {"it's", R"("it's")"},
      {std::string("\t\r\n\0x", 5), R"("\t\r\n\0x")"},
      {"\x1b[2J\x7f", R"("\u{1b}[2J\u{7f}")"},
      {"a\u00a0b\u3000c", R"("a\u{a0}b\u{3000}c")"},  // spaces other than the blank
      {"\u200b\u200d\u2028\u2029", R"("\u{200b}\u{200d}\u{2028}\u{2029}")"},  // format, separators
      {"\ue000\U0010fffd\u0378", R"("\u{e000}\u{10fffd}\u{378}")"},  // private use, unassigned
      {"e\u0301 \u20dd", R"("e\u{301} \u{20dd}")"},                  // combining marks
      {"\u00e9 \u00b5 \u2126 \u4e2d \U0001f600\U0001f3fb",
       "\"\u00e9 \u00b5 \u2126 \u4e2d \U0001f600\U0001f3fb\""},  // printable, emoji modifier
  };
  for (const auto& c : cases)
    EXPECT_EQ(quote_form(c.text), c.expected) << c.text;
}

TEST(DebugWriterQuoting, InvalidUtf8BytesAreEscapedOneByOne) {
  EXPECT_EQ(quote_form("a\xff"
                       "b"),
            R"("a\xffb")");
  EXPECT_EQ(quote_form("\xe2\x82"), R"("\xe2\x82")");               // cut sequence
  EXPECT_EQ(quote_form("\xed\xa0\x80"), R"("\xed\xa0\x80")");       // encoded surrogate
  EXPECT_EQ(quote_form("\xc0\xaf\xe2\x82\xac"), R"("\xc0\xaf€")");  // overlong, then a valid €
}

TEST(DebugWriterLeaves, NumbersTruthValuesAndTexts) {
  EXPECT_EQ(debug_string(std::numeric_limits<std::int64_t>::min()), "-9223372036854775808");
  EXPECT_EQ(debug_string(std::numeric_limits<std::uint64_t>::max()), "18446744073709551615");
  EXPECT_EQ(debug_string(std::uint32_t{0}), "0");
  EXPECT_EQ(debug_string(true) + debug_string(false), "truefalse");
  EXPECT_EQ(debug_string(-80.5), "-80.5");
  EXPECT_EQ(debug_string(std::string("x\n")), R"("x\n")");
  EXPECT_EQ(debug_string(std::optional<int>{}), "None");
  EXPECT_EQ(debug_string(std::optional<int>{7}, true), "Some(\n    7,\n)");
}

TEST(DebugWriterLayout, NestedValuesCompactAndPretty) {
  const Holder h{{0, false}, {{240.0, -80.5}, {1e16, 0.0}}, "a"};
  EXPECT_EQ(debug_string(h),
            "Holder { progress: Mutex { data: 0, poisoned: false, .. }, "
            "points: [(240.0, -80.5), (1e16, 0.0)], tag: Some(\"a\") }");
  EXPECT_EQ(debug_string(h, true),
            "Holder {\n"
            "    progress: Mutex {\n"
            "        data: 0,\n"
            "        poisoned: false,\n"
            "        ..\n"
            "    },\n"
            "    points: [\n"
            "        (\n"
            "            240.0,\n"
            "            -80.5,\n"
            "        ),\n"
            "        (\n"
            "            1e16,\n"
            "            0.0,\n"
            "        ),\n"
            "    ],\n"
            "    tag: Some(\n"
            "        \"a\",\n"
            "    ),\n"
            "}");
}

TEST(DebugWriterLayout, EmptyShapes) {
  const Holder h{{5, true}, {}, std::nullopt};
  EXPECT_EQ(debug_string(h, true),
            "Holder {\n"
            "    progress: Mutex {\n"
            "        data: 5,\n"
            "        poisoned: true,\n"
            "        ..\n"
            "    },\n"
            "    points: [],\n"
            "    tag: None,\n"
            "}");
  for (bool pretty : {false, true}) {
    std::string out;
    DebugWriter w(out, pretty);
    w.record("Bare", [] {});
    w.token(" ");
    w.record(
        "Hidden", [] {}, true);
    w.token(" ");
    w.tuple("Unit", [] {});
    w.token(" ");
    w.tuple("", [] {});
    EXPECT_EQ(out, "Bare Hidden { .. } Unit ()");
  }
}

TEST(DebugWriterLayout, MultiLineTokensFollowThePrettyIndentation) {
  std::string out;
  DebugWriter w(out, true);
  w.tuple("Wrap", [&] { w.element_with([&] { w.token("first\n\nsecond\nthird"); }); });
  EXPECT_EQ(out, "Wrap(\n    first\n\n    second\n    third,\n)");
}

}  // namespace
}  // namespace kestrel
