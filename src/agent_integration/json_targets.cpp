#include "agent_integration/json_targets.hpp"

#include "common/files.hpp"
#include "common/paths.hpp"
#include "common/platform.hpp"

namespace murmela {

namespace {

std::string opencode_file(const std::string& folder) {
  for (const char* name : {"opencode.json", "opencode.jsonc"}) {
    if (is_regular_file(join_path(folder, name))) return join_path(folder, name);
  }
  return join_path(folder, "opencode.json");
}

}  // namespace

std::vector<JsonTarget> json_targets(const AgentEnvironment& environment) {
  if (!environment.home) return {};
  const std::string& home = *environment.home;
  const std::string config = platform::config_folder(home, environment.xdg_config_home);
  auto target = [](const char* name, const std::string& folder, const char* file) {
    return JsonTarget{name, folder, join_path(folder, file), "mcpServers", EntryShape::Standard};
  };
  const std::string opencode = join_path(config, "opencode");
  return {
      target("Gemini CLI", join_path(environment.gemini_cli_home.value_or(home), ".gemini"),
             "settings.json"),
      target("Cursor", join_path(home, ".cursor"), "mcp.json"),
      target("Windsurf", join_path(home, ".codeium/windsurf"), "mcp_config.json"),
      target("Claude Desktop", platform::claude_desktop_folder(home, config),
             "claude_desktop_config.json"),
      {"opencode", opencode, opencode_file(opencode), "mcp", EntryShape::Opencode},
  };
}

}  // namespace murmela
