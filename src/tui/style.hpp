#pragma once
// Colours and text attributes of a cell. Unset colours mean the terminal's
// own default; a later style patched over an earlier one overrides only the
// fields it sets.

#include <cstdint>
#include <optional>

namespace kestrel::tui {

// The named colours of the terminal's 16-colour palette that the screens use.
enum class Color : std::uint8_t {
  White,     // bright white
  Gray,      // white
  DarkGray,  // bright black
  Blue,
  Red,
  Yellow,
};

// Text attributes, combined as bit flags.
enum class Modifier : std::uint8_t {
  None = 0,
  Italic = 1 << 0,
};

constexpr Modifier operator|(Modifier a, Modifier b) {
  return static_cast<Modifier>(static_cast<std::uint8_t>(a) | static_cast<std::uint8_t>(b));
}
constexpr bool has(Modifier set, Modifier flag) {
  return (static_cast<std::uint8_t>(set) & static_cast<std::uint8_t>(flag)) != 0;
}

struct Style {
  std::optional<Color> foreground;
  std::optional<Color> background;
  Modifier modifiers = Modifier::None;

  // Builders: Style{}.fg(Color::Blue).add_modifier(Modifier::Italic).
  constexpr Style fg(Color c) const {
    Style s = *this;
    s.foreground = c;
    return s;
  }
  constexpr Style bg(Color c) const {
    Style s = *this;
    s.background = c;
    return s;
  }
  constexpr Style add_modifier(Modifier m) const {
    Style s = *this;
    s.modifiers = s.modifiers | m;
    return s;
  }

  // This style with `over` laid on top: colours `over` sets replace these,
  // modifiers add up.
  constexpr Style patch(const Style& over) const {
    return Style{over.foreground ? over.foreground : foreground,
                 over.background ? over.background : background, modifiers | over.modifiers};
  }

  bool operator==(const Style&) const = default;
};

}  // namespace kestrel::tui
