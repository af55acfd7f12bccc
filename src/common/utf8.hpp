#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace murmela {

bool is_valid_utf8(std::string_view bytes);

// The bytes as UTF-8 text, every invalid sequence replaced by U+FFFD.
std::string lossy_utf8(std::string_view bytes);

// Number of Unicode code points in valid UTF-8 text.
std::size_t code_point_count(std::string_view text);

// The first `count` code points of valid UTF-8 text.
std::string_view first_code_points(std::string_view text, std::size_t count);

}  // namespace murmela
