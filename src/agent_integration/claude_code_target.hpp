#pragma once

#include <optional>
#include <string>

#include "agent_integration/agent_environment.hpp"
#include "agent_integration/report.hpp"

namespace murmela {

// Claude Code: registered through its own `claude mcp` commands, in the user
// scope. No line when neither the command nor ~/.claude.json is there.
std::optional<TargetReport> update_claude_code(IntegrationMode mode,
                                               const AgentEnvironment& environment);

// The `claude` program: the first regular file named `claude` in the PATH
// folders, then the usual install folders.
std::optional<std::string> find_claude_command(const AgentEnvironment& environment);

}  // namespace murmela
