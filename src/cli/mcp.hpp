#pragma once

#include <cstdio>
#include <optional>
#include <string>

#include "common/cli_error.hpp"
#include "common/json.hpp"

namespace murmela {

// The texts every reply draws on, built once per session.
struct McpTexts {
  std::string guide;
  std::string instructions;
};

McpTexts mcp_texts();

// The reply to one incoming line, or nothing when the line goes unanswered
// (not JSON, not an object, or a notification without an `id`).
// The reply is one compact line, without its line feed.
std::optional<std::string> mcp_reply(const McpTexts& texts, std::string_view line);

// The longest message line taken, line feed excluded. The stub's messages
// are a few kilobytes (an initialize with the client's capabilities, a tool
// call whose arguments it never reads); 4 MiB leaves room for any client
// while a line longer than that, passed over as it arrives, costs the
// server no more memory than this.
inline constexpr std::size_t kMaxMessageBytes = 4 * 1024 * 1024;

// The answer to a line longer than kMaxMessageBytes: an invalid request,
// with a null id since the message was never read.
std::string too_long_reply();

// The stub MCP server on stdin/stdout: one JSON-RPC message per line, until
// the input ends. A longer line than kMaxMessageBytes is passed over and
// answered with too_long_reply(). Always succeeds.
[[nodiscard]] Done run_mcp();

}  // namespace murmela
