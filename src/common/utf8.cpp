#include "common/utf8.hpp"

namespace murmela {

namespace {

// Length of the valid UTF-8 sequence at `pos`, or, when it is invalid, the
// negated length of its longest valid prefix (at least one byte) so that a
// decoder replaces each maximal invalid subpart with one U+FFFD.
long sequence_length(std::string_view s, std::size_t pos) {
  auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char lead = byte(pos);
  if (lead < 0x80) return 1;

  std::size_t needed;
  unsigned char low = 0x80, high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    needed = 1;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    needed = 2;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    needed = 3;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return -1;
  }

  for (std::size_t i = 1; i <= needed; ++i) {
    if (pos + i >= s.size()) return -static_cast<long>(i);
    const unsigned char next = byte(pos + i);
    const unsigned char lo = i == 1 ? low : 0x80;
    const unsigned char hi = i == 1 ? high : 0xBF;
    if (next < lo || next > hi) return -static_cast<long>(i);
  }
  return static_cast<long>(needed + 1);
}

}  // namespace

bool is_valid_utf8(std::string_view bytes) {
  return first_invalid_utf8(bytes) == std::string_view::npos;
}

std::size_t first_invalid_utf8(std::string_view bytes, BlockScan scan) {
  for (std::size_t pos = 0; pos < bytes.size();) {
    // Blocks at a time as far as the scan vouches for them, then one
    // character by hand: the exact place of a fault, and what the block
    // scan leaves (the end, and all but ASCII runs on the simpler scans).
    pos += valid_utf8_prefix(bytes.substr(pos), scan);
    if (pos == bytes.size()) break;
    const long length = sequence_length(bytes, pos);
    if (length < 0) return pos;
    pos += static_cast<std::size_t>(length);
  }
  return std::string_view::npos;
}

std::size_t utf8_sequence_length(std::string_view bytes, std::size_t pos) {
  const long length = sequence_length(bytes, pos);
  return length < 0 ? 0 : static_cast<std::size_t>(length);
}

void append_utf8(std::string& out, std::uint32_t code_point) {
  if (code_point < 0x80) {
    out.push_back(static_cast<char>(code_point));
    return;
  }
  if (code_point < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (code_point >> 6)));
  } else if (code_point < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (code_point >> 12)));
    out.push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (code_point >> 18)));
    out.push_back(static_cast<char>(0x80 | ((code_point >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
  }
  out.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
}

std::string lossy_utf8(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size());
  for (std::size_t pos = 0; pos < bytes.size();) {
    const long length = sequence_length(bytes, pos);
    if (length > 0) {
      text.append(bytes.substr(pos, static_cast<std::size_t>(length)));
      pos += static_cast<std::size_t>(length);
    } else {
      text.append("\xEF\xBF\xBD");
      pos += static_cast<std::size_t>(-length);
    }
  }
  return text;
}

std::size_t code_point_count(std::string_view text) {
  std::size_t count = 0;
  for (char c : text) {
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++count;
  }
  return count;
}

std::string_view first_code_points(std::string_view text, std::size_t count) {
  std::size_t seen = 0;
  for (std::size_t pos = 0; pos < text.size(); ++pos) {
    if ((static_cast<unsigned char>(text[pos]) & 0xC0) != 0x80) {
      if (seen == count) return text.substr(0, pos);
      ++seen;
    }
  }
  return text;
}

}  // namespace murmela
