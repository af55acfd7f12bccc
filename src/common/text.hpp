#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace murmela {

// An ASCII digit; unlike std::isdigit, never shaped by the locale.
inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The text without leading and trailing ASCII whitespace.
inline std::string_view trim(std::string_view text) {
  constexpr std::string_view kSpace = " \t\r\n\f\v";
  const auto first = text.find_first_not_of(kSpace);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kSpace) - first + 1);
}

// The lines of a text: split at "\n", a "\r" before it dropped; a final line
// feed does not start another line.
inline std::vector<std::string> split_lines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (end < text.size() && line.ends_with('\r')) line.remove_suffix(1);
    lines.emplace_back(line);
    start = end + 1;
  }
  return lines;
}

}  // namespace murmela
