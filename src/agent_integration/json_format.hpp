#pragma once

#include <string>

#include "agent_integration/config_format.hpp"

namespace murmela {

// What our entry looks like: {command, args} for most products; opencode's
// {type: local, command: [cli, mcp], enabled}.
enum class EntryShape { Standard, Opencode };

// A JSON file whose member `servers_key` maps server names to entries; our
// entry is the member `murmela`. Edited member by member: every other
// member keeps its exact text.
ConfigFormat json_format(const std::string& servers_key, EntryShape shape,
                         const std::string& cli_path);

}  // namespace murmela
