#pragma once

#include <chrono>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "common/json.hpp"

namespace murmela {

// Why one exchange with the app failed.
struct ExchangeError {
  enum class Kind {
    Unreachable,  // no connection stood; starting the app may help
    Failed,       // anything after the connection stood, or the app's own error
  };
  Kind kind;
  std::string text;  // Unreachable: the system error text; Failed: the full message

  bool unreachable() const { return kind == Kind::Unreachable; }
};

inline constexpr std::size_t kMaxReplyBytes = 32 * 1024 * 1024;

using Deadline = std::chrono::steady_clock::time_point;

// One connection to the socket at `path`: one request line out, one reply
// line in. Never starts anything. With a deadline, connecting, sending and
// reading together end by then (a Failed error saying so); without one, the
// reply is awaited as long as the app takes.
[[nodiscard]] std::expected<JsonDocument, ExchangeError> send_request(
    const std::string& path, std::string_view command, const Json& args, bool detach,
    std::optional<Deadline> deadline = std::nullopt);

}  // namespace murmela
