#include "common/double_text.hpp"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include <gtest/gtest.h>

using namespace murmela;

namespace {

constexpr double kUnparsed = 42.0;

struct DoubleCase {
  std::string text;
  std::errc ec;
  double value;          // kUnparsed where the value must be left as it was
  std::size_t consumed;  // bytes taken
};

TEST(DoubleFromChars, ReadsAsTheStandardSays) {
  const double denorm_min = std::numeric_limits<double>::denorm_min();
  const std::vector<DoubleCase> cases = {
      {"2.5e-7", std::errc(), 2.5e-7, 6},
      {"-1.25E+2", std::errc(), -125.0, 8},
      {"0.1", std::errc(), 0.1, 3},
      {"1.7976931348623157e308", std::errc(), std::numeric_limits<double>::max(), 22},
      {"4.9e-324", std::errc(), denorm_min, 8},
      {"2.4703282292062329e-324", std::errc(), denorm_min, 23},  // just above half: rounds up
      {"-0.0", std::errc(), -0.0, 4},
      {"0e999999", std::errc(), 0.0, 8},  // zero is never out of range
      {"0.000e-400", std::errc(), 0.0, 10},
      {"1e400", std::errc::result_out_of_range, kUnparsed, 5},
      {"-1e400", std::errc::result_out_of_range, kUnparsed, 6},
      {"1e-400", std::errc::result_out_of_range, kUnparsed, 6},
      {"-2.4703282292062327e-324", std::errc::result_out_of_range, kUnparsed, 24},
      {"1.5x", std::errc(), 1.5, 3},
      {"1e", std::errc(), 1.0, 1},  // an exponent without digits is not taken
      {"-", std::errc::invalid_argument, kUnparsed, 0},
      {"+1", std::errc::invalid_argument, kUnparsed, 0},
      {" 1", std::errc::invalid_argument, kUnparsed, 0},
      {"", std::errc::invalid_argument, kUnparsed, 0},
  };
  for (const DoubleCase& c : cases) {
    double value = kUnparsed;
    const auto result = double_from_chars(c.text.data(), c.text.data() + c.text.size(), value);
    EXPECT_EQ(result.ec, c.ec) << c.text;
    EXPECT_EQ(std::signbit(value), std::signbit(c.value)) << c.text;
    EXPECT_EQ(value, c.value) << c.text;
    if (c.ec != std::errc::invalid_argument) {
      EXPECT_EQ(static_cast<std::size_t>(result.ptr - c.text.data()), c.consumed) << c.text;
    }
  }
}

#if defined(__GLIBCXX__)
// Where the standard library has its own, the two agree on every answer:
// the double's bits, the bytes taken and the verdict.
TEST(DoubleFromChars, AgreesWithTheStandardLibrary) {
  std::mt19937_64 random(27);
  constexpr char kAlphabet[] = "0123456789.eE-+infa";
  auto check = [](const std::string& text) {
    double ours = kUnparsed, theirs = kUnparsed;
    const char* end = text.data() + text.size();
    const auto our_result = double_from_chars(text.data(), end, ours);
    const auto their_result = std::from_chars(text.data(), end, theirs);
    ASSERT_EQ(our_result.ec, their_result.ec) << text;
    ASSERT_EQ(our_result.ptr, their_result.ptr) << text;
    ASSERT_EQ(std::memcmp(&ours, &theirs, sizeof ours), 0) << text;
  };
  for (int i = 0; i < 200000; ++i) {
    std::string text;
    for (std::size_t n = 1 + random() % 30; n > 0; --n) text += kAlphabet[random() % 19];
    check(text);
    char number[64];
    std::snprintf(number, sizeof number, "%s%llue%d", random() % 2 ? "-" : "",
                  static_cast<unsigned long long>(random() % 100000000000000000ULL),
                  static_cast<int>(random() % 700) - 350);
    check(number);
  }
}
#endif

}  // namespace
