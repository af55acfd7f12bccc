#pragma once

#include <optional>
#include <string>

#include "agent_integration/agent_environment.hpp"
#include "agent_integration/report.hpp"

namespace murmela {

// Codex's `config.toml`: the table [mcp_servers.murmela], edited line by line
// so that every other line of the file stays as it is.
std::optional<TargetReport> update_codex(IntegrationMode mode, const AgentEnvironment& environment);

// Codex's config.toml, under $CODEX_HOME or ~/.codex.
std::string codex_config_path(const AgentEnvironment& environment);

// The CLI path as a TOML basic string.
std::string toml_quoted(const std::string& text);

}  // namespace murmela
