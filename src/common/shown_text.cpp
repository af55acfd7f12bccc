#include "common/shown_text.hpp"

#include <algorithm>

#include <fmt/format.h>

#include "common/utf8.hpp"

namespace murmela {

namespace {

// The code point of the valid UTF-8 sequence of `length` bytes at `pos`.
std::uint32_t decode(std::string_view text, std::size_t pos, std::size_t length) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[pos + i]); };
  if (length == 1) return byte(0);
  std::uint32_t code_point = byte(0) & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i) code_point = code_point << 6 | (byte(i) & 0x3F);
  return code_point;
}

}  // namespace

bool is_control_character(std::uint32_t code_point) {
  return code_point < 0x20 || (code_point >= 0x7F && code_point <= 0x9F) ||
         (code_point >= 0x202A && code_point <= 0x202E) ||
         (code_point >= 0x2066 && code_point <= 0x2069);
}

bool holds_control_character(std::string_view text) {
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t length = std::max<std::size_t>(utf8_sequence_length(text, pos), 1);
    if (is_control_character(decode(text, pos, length))) return true;
    pos += length;
  }
  return false;
}

std::string with_controls_escaped(std::string_view text, std::string_view kept) {
  std::string shown;
  shown.reserve(text.size());
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t length = utf8_sequence_length(text, pos);
    if (length == 0) {
      shown += fmt::format("\\x{:02x}", static_cast<unsigned char>(text[pos]));
      ++pos;
      continue;
    }
    const std::uint32_t code_point = decode(text, pos, length);
    if (!is_control_character(code_point) || (length == 1 && kept.contains(text[pos]))) {
      shown.append(text.substr(pos, length));
    } else if (code_point < 0x80) {
      shown += fmt::format("\\x{:02x}", code_point);
    } else {
      shown += fmt::format("\\u{:04x}", code_point);
    }
    pos += length;
  }
  return shown;
}

}  // namespace murmela
