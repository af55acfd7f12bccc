#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/block_scan.hpp"

namespace murmela {

bool is_valid_utf8(std::string_view bytes);

// Where the first byte that is not part of valid UTF-8 stands, or npos.
std::size_t first_invalid_utf8(std::string_view bytes, BlockScan scan = BlockScan::Best);

// The length of the valid UTF-8 sequence at `pos` (1 for ASCII), or 0 when
// the bytes there are not one.
std::size_t utf8_sequence_length(std::string_view bytes, std::size_t pos);

// Appends the UTF-8 form of a code point (not a surrogate).
void append_utf8(std::string& out, std::uint32_t code_point);

// The bytes as UTF-8 text, every invalid sequence replaced by U+FFFD.
std::string lossy_utf8(std::string_view bytes);

// Number of Unicode code points in valid UTF-8 text.
std::size_t code_point_count(std::string_view text);

// The first `count` code points of valid UTF-8 text.
std::string_view first_code_points(std::string_view text, std::size_t count);

}  // namespace murmela
