#pragma once

#include <optional>
#include <string>
#include <vector>

#include "agent_integration/agent_environment.hpp"
#include "agent_integration/config_format.hpp"
#include "agent_integration/report.hpp"
#include "common/disk.hpp"

namespace murmela {

// An agent product that keeps its MCP servers in a configuration file we
// edit ourselves.
struct FileTarget {
  std::string name;    // the report's target
  std::string folder;  // the product's own folder: without it, no line
  std::string file;    // where the product reads its configuration
  ConfigFormat format;
};

// Codex, then Gemini CLI, Cursor, Windsurf, Claude Desktop and opencode, in
// report order, each where the product reads it in this environment; none
// without a home folder.
std::vector<FileTarget> file_targets(const AgentEnvironment& environment);

// Codex's row: config.toml under $CODEX_HOME, else ~/.codex.
FileTarget codex_target(const AgentEnvironment& environment);
std::string codex_config_path(const AgentEnvironment& environment);

// Reads the file, decides what to do about our entry, and writes the change
// once the format's check has passed. No line when the folder is missing.
std::optional<TargetReport> update_file_target(IntegrationMode mode, const FileTarget& target,
                                               Disk& disk);

}  // namespace murmela
