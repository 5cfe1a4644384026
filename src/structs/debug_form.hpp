#pragma once
// The one writer of debug forms. Every type that has a debug form provides
//   void debug(DebugWriter&, const T&)
// (found by argument-dependent lookup) or derives from Error; the writer lays
// the pieces out compactly ("Name { a: 1, b: 2 }") or prettily (one item per
// line, four blanks per level).

#include <concepts>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel {

class DebugWriter;

// Anything with a free debug(DebugWriter&, const T&) overload.
template <class T>
concept DebugPrintable = requires(DebugWriter& w, const T& v) {
  debug(w, v);
};

class DebugWriter {
 public:
  DebugWriter(std::string& out, bool pretty) : out_(out), pretty_(pretty) {}

  bool pretty() const { return pretty_; }

  // Leaves.
  // Written as it is: names, "None", "<locked>". In the pretty layout the
  // lines after a line feed are indented to the current level.
  void token(std::string_view text);
  // "text" with \" \\ \t \r \n \0 escaped, other non-printable characters and
  // combining marks as \u{hex}, and each byte of invalid UTF-8 as \x followed
  // by two lower-case hex digits.
  void quoted(std::string_view text);
  void value(bool v);
  void value(double v);  // float debug form: 240.0, 1e16, NaN, -inf
  void value(std::string_view text) { quoted(text); }
  void value(const std::string& text) { quoted(text); }
  void value(const char* text) { quoted(text); }
  template <std::signed_integral I>
  requires(!std::same_as<I, bool>) void value(I v) { signed_value(static_cast<std::int64_t>(v)); }
  template <std::unsigned_integral I>
  requires(!std::same_as<I, bool>) void value(I v) {
    unsigned_value(static_cast<std::uint64_t>(v));
  }
  template <DebugPrintable T>
  void value(const T& v) {
    debug(*this, v);
  }
  // None, or Some(value).
  template <class T>
  void value(const std::optional<T>& v) {
    if (!v) {
      token("None");
      return;
    }
    tuple("Some", [&] { element(*v); });
  }
  // [a, b, c]
  template <class T>
  void value(const std::vector<T>& items) {
    list([&] {
      for (const auto& item : items)
        element(item);
    });
  }

  // A record: Name { field: value, .. }. `fields` calls field() for each field;
  // non_exhaustive adds the ".." marker (Name { .. } without fields). A record
  // without fields or marker is its bare name.
  template <class F>
  void record(std::string_view name, F&& fields, bool non_exhaustive = false) {
    open(name, Kind::Record);
    fields();
    close(non_exhaustive);
  }
  template <class T>
  void field(std::string_view name, const T& v) {
    begin_item(name);
    value(v);
    end_item();
  }
  // Field whose value is written by a callable, for values without a type of their own.
  template <class F>
  void field_with(std::string_view name, F&& write) {
    begin_item(name);
    write();
    end_item();
  }

  // A tuple: Name(a, b), or (a, b) when name is empty; a named tuple without
  // elements is its bare name. `elements` calls element().
  template <class F>
  void tuple(std::string_view name, F&& elements) {
    open(name, Kind::Tuple);
    elements();
    close(false);
  }
  // A list: [a, b]; an empty list stays [].
  template <class F>
  void list(F&& elements) {
    open({}, Kind::List);
    elements();
    close(false);
  }
  template <class T>
  void element(const T& v) {
    begin_item({});
    value(v);
    end_item();
  }
  template <class F>
  void element_with(F&& write) {
    begin_item({});
    write();
    end_item();
  }

 private:
  enum class Kind { Record, Tuple, List };
  struct Frame {
    Kind kind;
    bool named;
    bool has_items;
  };

  void signed_value(std::int64_t v);
  void unsigned_value(std::uint64_t v);
  void open(std::string_view name, Kind kind);
  void close(bool non_exhaustive);
  void begin_item(std::string_view field_name);
  void end_item();
  void newline_indent(std::size_t level);

  std::string& out_;
  bool pretty_;
  std::vector<Frame> frames_;  // the open records, tuples and lists
};

// Appends `text`, indenting every non-empty line after the first by `indent`
// blanks (multi-line texts inside nested forms).
void append_indented(std::string& out, std::string_view text, std::size_t indent);

// The debug form of any printable value as a string.
template <class T>
std::string debug_string(const T& v, bool pretty = false) {
  std::string out;
  DebugWriter w(out, pretty);
  w.value(v);
  return out;
}

}  // namespace kestrel
