#include "structs/number_format.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <new>
#include <random>
#include <string>

// Counts the heap allocations of this test program, to check the CSV hot path.
namespace {
std::atomic<long> allocations{0};
}
// Kept out of line: GCC otherwise pairs the inlined malloc with the free below
// and warns of a mismatch that is not there.
[[gnu::noinline]] void* operator new(std::size_t size) {
  ++allocations;
  if (void* p = std::malloc(size ? size : 1))
    return p;
  throw std::bad_alloc();
}
[[gnu::noinline]] void operator delete(void* p) noexcept {
  std::free(p);
}
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}

namespace kestrel {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

struct Case {
  double value;
  const char* debug;
  const char* plain;
};

TEST(NumberFormat, DebugAndPlainForms) {
  const Case cases[] = {
      {240.0, "240.0", "240"},
      {-80.5, "-80.5", "-80.5"},
      {-87.40625, "-87.40625", "-87.40625"},
      {247.2, "247.2", "247.2"},
      {0.0, "0.0", "0"},
      {-0.0, "-0.0", "-0"},
      {0.1, "0.1", "0.1"},
      {1e-4, "0.0001", "0.0001"},
      {1.5e-5, "1.5e-5", "0.000015"},
      {-1.5e-5, "-1.5e-5", "-0.000015"},
      {1e15, "1000000000000000.0", "1000000000000000"},
      {9999999999999998.0, "9999999999999998.0", "9999999999999998"},
      {1e16, "1e16", "10000000000000000"},
      {123456789012345680.0, "1.2345678901234568e17", "123456789012345680"},
      {18446744073709551616.0, "1.8446744073709552e19", "18446744073709552000"},
      {1e21, "1e21", "1000000000000000000000"},
      {kNaN, "NaN", "NaN"},
      {-kNaN, "NaN", "NaN"},
      {kInf, "inf", "inf"},
      {-kInf, "-inf", "-inf"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(float_debug(c.value), c.debug) << c.plain;
    EXPECT_EQ(float_plain(c.value), c.plain) << c.debug;
  }
}

TEST(NumberFormat, ExtremeMagnitudes) {
  const double tiny = std::numeric_limits<double>::denorm_min();
  EXPECT_EQ(float_debug(tiny), "5e-324");
  EXPECT_EQ(float_plain(tiny), "0." + std::string(323, '0') + "5");
  const double max = std::numeric_limits<double>::max();
  EXPECT_EQ(float_debug(max), "1.7976931348623157e308");
  EXPECT_EQ(float_plain(max), "17976931348623157" + std::string(292, '0'));
}

TEST(NumberFormat, PlainFormReadsBackToTheSameValue) {
  std::mt19937_64 rng(7);
  for (int i = 0; i < 20000; ++i) {
    const double v = std::bit_cast<double>(rng());
    if (!std::isfinite(v))
      continue;
    const std::string plain = float_plain(v);
    ASSERT_EQ(std::strtod(plain.c_str(), nullptr), v) << plain;
    ASSERT_EQ(plain.find_first_of("eE"), std::string::npos) << plain;
    ASSERT_EQ(std::strtod(float_debug(v).c_str(), nullptr), v) << float_debug(v);
  }
}

TEST(NumberFormat, AppendPlainOnlyAppendsAndNeverAllocates) {
  std::string line = "12.5,";
  line.reserve(1024);
  const long before = allocations;
  append_float_plain(line, -87.40625);
  line += ',';
  append_float_plain(line, std::numeric_limits<double>::max());
  append_float_plain(line, kNaN);
  EXPECT_EQ(allocations - before, 0);
  EXPECT_EQ(line, "12.5,-87.40625,17976931348623157" + std::string(292, '0') + "NaN");
}

}  // namespace
}  // namespace kestrel
