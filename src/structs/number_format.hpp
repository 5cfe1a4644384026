#pragma once
// The two text forms of 64-bit floats used across the system.

#include <string>

namespace kestrel {

// Debug form: shortest round-trip digits with at least one digit after the
// point (240.0, -80.5), exponent form from 1e16 up and below 1e-4 (1e16,
// 1.5e-5), "NaN", "inf", "-inf".
std::string float_debug(double v);

// Plain form of the CSV file and the logs: shortest round-trip digits, no
// exponent, no point for whole values (240, -87.40625, 0.000015,
// 18446744073709552000), "NaN", "inf", "-inf".
std::string float_plain(double v);

// Appends the plain form to `out` without a temporary string (hot CSV path).
void append_float_plain(std::string& out, double v);

}  // namespace kestrel
