#pragma once

#include <string_view>

namespace murmela {

// The text without leading and trailing ASCII whitespace.
inline std::string_view trim(std::string_view text) {
  constexpr std::string_view kSpace = " \t\r\n\f\v";
  const auto first = text.find_first_not_of(kSpace);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kSpace) - first + 1);
}

}  // namespace murmela
