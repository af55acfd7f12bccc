#pragma once

#include <string>
#include <vector>

#include "agent_integration/agent_environment.hpp"
#include "agent_integration/json_format.hpp"

namespace murmela {

// An agent product that keeps its MCP servers in a JSON file.
struct JsonTarget {
  std::string target;
  std::string folder;  // must exist for the target to apply
  std::string file;    // the configuration file in it
  std::string servers_key;
  EntryShape shape;
};

// Gemini CLI, Cursor, Windsurf, Claude Desktop and opencode, in report order,
// each where the product itself looks in this environment; none without a
// home folder.
std::vector<JsonTarget> json_targets(const AgentEnvironment& environment);

}  // namespace murmela
