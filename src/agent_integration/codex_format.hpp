#pragma once

#include <string>

#include "agent_integration/config_format.hpp"

namespace murmela {

// Codex's `config.toml`: our entry is the table [mcp_servers.murmela],
// edited line by line so that every other line of the file stays as it is.
ConfigFormat codex_format(const std::string& cli_path);

// The CLI path as a TOML basic string.
std::string toml_quoted(const std::string& text);

}  // namespace murmela
