#include "common/double_text.hpp"

#include <cmath>

#include <fast_float/fast_float.h>

namespace murmela {

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Whether the text is written in digits (not "inf" or "nan").
bool is_decimal(const char* first, const char* last) {
  if (first != last && *first == '-') ++first;
  return first != last && (is_digit(*first) || *first == '.');
}

// Whether the digits before the exponent hold any but zeros.
bool has_nonzero_digit(const char* first, const char* last) {
  for (const char* at = first; at != last && *at != 'e' && *at != 'E'; ++at) {
    if (is_digit(*at) && *at != '0') return true;
  }
  return false;
}

}  // namespace

// fast_float is what libstdc++'s own from_chars is built on; it rounds a value
// out of range to infinity or zero without a word, so that check is made here.
std::from_chars_result double_from_chars(const char* first, const char* last, double& value) {
  double parsed = 0;
  const auto result = fast_float::from_chars(first, last, parsed);
  if (result.ec != std::errc()) return {result.ptr, result.ec};
  if (is_decimal(first, result.ptr) &&
      (std::isinf(parsed) || (parsed == 0 && has_nonzero_digit(first, result.ptr)))) {
    return {result.ptr, std::errc::result_out_of_range};
  }
  value = parsed;
  return {result.ptr, std::errc()};
}

}  // namespace murmela
