#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace murmela {

// A JSON object as the ordered list of its members, each value kept as the
// exact text it had in the source, so that rewriting an object leaves every
// member we do not touch byte for byte as the user wrote it.
struct Member {
  std::string key;      // decoded
  std::string raw;      // the value's source text, without surrounding whitespace
  std::string raw_key;  // the key as written, quotes included; empty for a new member
};

class MemberList {
 public:
  std::vector<Member> members;

  // The first member with this key, compared byte for byte.
  Member* find(std::string_view key);
  void erase(std::string_view key);  // the first member with this key
};

// The members of `text`, which the strict reader must accept as exactly one
// JSON object; nothing for anything else (comments, trailing commas, a byte
// order mark, a NUL byte, another top-level value).
std::optional<MemberList> parse_members(std::string_view text);

// One member per line, indented by indent + 2 spaces; "{}" when empty.
std::string format_members(const MemberList& list, std::size_t indent,
                           std::string_view line_ending);

}  // namespace murmela
