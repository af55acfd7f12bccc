#pragma once

#include <optional>
#include <string>

#include "agent_integration/agent_environment.hpp"
#include "agent_integration/report.hpp"
#include "common/disk.hpp"

namespace murmela {

// Walks every target in report order: PATH, Claude Code, Codex, then the JSON
// configurations. Install and Remove hold the lock (taken through `disk`)
// from their first read to their last write, and record the run in the
// marker file.
Reports run_integration(IntegrationMode mode, const AgentEnvironment& environment,
                        Disk& disk = real_disk());

// Installs once, and again when the CLI has moved; nothing when the last run
// was a remove, when the marker already names this CLI, or when the CLI runs
// from a build folder.
std::optional<Reports> ensure_integration(const AgentEnvironment& environment,
                                          Disk& disk = real_disk());

// The marker file's exact text.
std::string marker_text(const std::string& cli_path, bool removed);

inline constexpr const char* kMarkerName = "agent-integration.json";
// Held by the runs that write, so that two never interleave their edits.
inline constexpr const char* kLockName = "agent-integration.lock";

}  // namespace murmela
