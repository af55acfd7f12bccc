#pragma once

#include <optional>
#include <string>

#include "agent_integration/agent_environment.hpp"
#include "agent_integration/report.hpp"

namespace murmela {

// Walks every target in report order: PATH, Claude Code, Codex, then the JSON
// configurations. Install and Remove also record the run in the marker file.
Reports run_integration(IntegrationMode mode, const AgentEnvironment& environment);

// Installs once, and again when the CLI has moved; nothing when the last run
// was a remove, when the marker already names this CLI, or when the CLI runs
// from a build folder.
std::optional<Reports> ensure_integration(const AgentEnvironment& environment);

// The marker file's exact text.
std::string marker_text(const std::string& cli_path, bool removed);

inline constexpr const char* kMarkerName = "agent-integration.json";
// Held by the runs that write, so that two never interleave their edits.
inline constexpr const char* kLockName = "agent-integration.lock";

}  // namespace murmela
