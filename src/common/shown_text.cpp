#include "common/shown_text.hpp"

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

// The text with what shows as itself copied and, in its place, what
// `control(shown, code_point)` appends for each control character and
// `invalid(shown, byte)` for each byte that is not UTF-8.
template <typename Control, typename Invalid>
std::string shown_with(std::string_view text, Control control, Invalid invalid) {
  std::string shown;
  shown.reserve(text.size());
  std::size_t run = 0;  // where the text not yet copied begins
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t length = utf8_sequence_length(text, pos);
    if (length == 0) {
      shown.append(text.substr(run, pos - run));
      invalid(shown, static_cast<unsigned char>(text[pos]));
      run = ++pos;
      continue;
    }
    if (const std::uint32_t code_point = decode(text, pos, length);
        is_control_character(code_point)) {
      shown.append(text.substr(run, pos - run));
      control(shown, code_point);
      run = pos + length;
    }
    pos += length;
  }
  shown.append(text.substr(run));
  return shown;
}

// For the treatments that show a sequence that is not UTF-8 as U+FFFD.
std::string lossy_if_needed(std::string_view text) {
  return is_valid_utf8(text) ? std::string(text) : lossy_utf8(text);
}

void never_called(std::string&, unsigned char) {}

}  // namespace

bool is_control_character(std::uint32_t code_point) {
  return code_point < 0x20 || (code_point >= 0x7F && code_point <= 0x9F) || code_point == 0x061C ||
         code_point == 0x200E || code_point == 0x200F || code_point == 0x2028 ||
         code_point == 0x2029 || (code_point >= 0x202A && code_point <= 0x202E) ||
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
  return shown_with(
      text,
      [&](std::string& shown, std::uint32_t code_point) {
        if (code_point < 0x80 && kept.contains(static_cast<char>(code_point))) {
          shown.push_back(static_cast<char>(code_point));
        } else if (code_point < 0x80) {
          shown += fmt::format("\\x{:02x}", code_point);
        } else {
          shown += fmt::format("\\u{:04x}", code_point);
        }
      },
      [](std::string& shown, unsigned char byte) { shown += fmt::format("\\x{:02x}", byte); });
}

std::string with_controls_as_spaces(std::string_view text) {
  return shown_with(
      lossy_if_needed(text), [](std::string& shown, std::uint32_t) { shown.push_back(' '); },
      never_called);
}

std::string with_controls_dropped(std::string_view text) {
  return shown_with(
      lossy_if_needed(text),
      [](std::string& shown, std::uint32_t code_point) {
        const bool breaks = code_point == '\t' || code_point == '\n' || code_point == '\r' ||
                            code_point == 0x2028 || code_point == 0x2029;
        if (breaks) shown.push_back(' ');
      },
      never_called);
}

std::string with_json_controls_escaped(std::string_view json) {
  return shown_with(
      json,
      [](std::string& shown, std::uint32_t code_point) {
        if (code_point < 0x20) {
          shown.push_back(static_cast<char>(code_point));
        } else {
          shown += fmt::format("\\u{:04x}", code_point);
        }
      },
      // The printer writes UTF-8 only; anything else goes out as it came.
      [](std::string& shown, unsigned char byte) { shown.push_back(static_cast<char>(byte)); });
}

}  // namespace murmela
