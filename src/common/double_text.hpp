#pragma once

#include <charconv>

namespace murmela {

// std::from_chars for a double, as libstdc++ gives it, on every standard
// library: libc++ (macOS) has none. The same digits give the same double
// (correctly rounded), and a value beyond a double, or one that is not zero
// but rounds to it, is result_out_of_range with `value` left as it was.
// No leading '+' or white space is taken.
[[nodiscard]] std::from_chars_result double_from_chars(const char* first, const char* last,
                                                       double& value);

}  // namespace murmela
