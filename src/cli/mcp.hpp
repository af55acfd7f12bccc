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

// The stub MCP server on stdin/stdout: one JSON-RPC message per line, until
// the input ends. Always succeeds.
[[nodiscard]] Done run_mcp();

}  // namespace murmela
