#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

#include "common/json.hpp"
#include "common/json_document.hpp"

namespace murmela {

inline constexpr std::uint32_t PROTOCOL_VERSION = 1;

// One compact request line, members in the order version, command, args,
// detach, ended by a line feed.
std::string serialize_request(std::string_view command, const Json& args, bool detach);

// What one reply line says: the app's result, or its error message.
struct Reply {
  bool ok = false;
  JsonDocument result;  // the reply line, rooted at the result (null when absent)
  std::string error;    // the app's message when !ok
  bool has_error = false;
};

// Reads a reply envelope: an object {"ok","result","error"} (members in any
// order, unknown ones ignored, none repeated) or an array [ok, result, error]
// whose tail may be left off. The error describes why the line is unreadable.
[[nodiscard]] std::expected<Reply, std::string> parse_reply(std::string line);

}  // namespace murmela
