#include "structs/number_format.hpp"

#include <charconv>
#include <cmath>
#include <string_view>

namespace kestrel {
namespace {

// The shortest round-trip digits of a finite, non-negative value: "d[ddd]" with
// the decimal exponent of the first digit (value = d.ddd × 10^exponent).
struct Digits {
  char buffer[32];
  std::size_t count = 0;
  int exponent = 0;

  std::string_view view() const { return {buffer, count}; }
};

Digits shortest_digits(double magnitude) {
  char scientific[32];
  const auto res = std::to_chars(scientific, scientific + sizeof scientific, magnitude,
                                 std::chars_format::scientific);
  // "d.ddde±xx" or "de±xx": collect the digits, then read the exponent.
  Digits d;
  const char* p = scientific;
  for (; p != res.ptr && *p != 'e'; ++p) {
    if (*p != '.')
      d.buffer[d.count++] = *p;
  }
  std::from_chars(p + 1 + (p[1] == '+'), res.ptr, d.exponent);
  return d;
}

// NaN and the infinities, the same in both forms; false for finite values.
bool append_non_finite(std::string& out, double v) {
  if (std::isnan(v)) {
    out += "NaN";
    return true;
  }
  if (std::isinf(v)) {
    out += v < 0 ? "-inf" : "inf";
    return true;
  }
  return false;
}

// Positional notation of the digits; "0" for a value below one keeps its
// leading "0.". Whole values get ".0" only when `point_zero` is set.
void append_positional(std::string& out, const Digits& d, bool point_zero) {
  const std::string_view digits = d.view();
  if (d.exponent < 0) {
    out += "0.";
    out.append(static_cast<std::size_t>(-d.exponent - 1), '0');
    out += digits;
    return;
  }
  const auto whole = static_cast<std::size_t>(d.exponent) + 1;
  if (whole >= digits.size()) {
    out += digits;
    out.append(whole - digits.size(), '0');
    if (point_zero)
      out += ".0";
    return;
  }
  out += digits.substr(0, whole);
  out += '.';
  out += digits.substr(whole);
}

}  // namespace

std::string float_debug(double v) {
  std::string out;
  if (append_non_finite(out, v))
    return out;
  if (std::signbit(v))
    out += '-';
  const double magnitude = std::fabs(v);
  const Digits d = shortest_digits(magnitude);
  if (magnitude >= 1e16 || (magnitude != 0.0 && magnitude < 1e-4)) {
    const std::string_view digits = d.view();
    out += digits.front();
    if (digits.size() > 1) {
      out += '.';
      out += digits.substr(1);
    }
    out += 'e';
    char exponent[8];
    const auto res = std::to_chars(exponent, exponent + sizeof exponent, d.exponent);
    out.append(exponent, res.ptr);
    return out;
  }
  append_positional(out, d, true);
  return out;
}

void append_float_plain(std::string& out, double v) {
  if (append_non_finite(out, v))
    return;
  if (std::signbit(v))
    out += '-';
  append_positional(out, shortest_digits(std::fabs(v)), false);
}

std::string float_plain(double v) {
  std::string out;
  append_float_plain(out, v);
  return out;
}

}  // namespace kestrel
