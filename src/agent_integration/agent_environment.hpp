#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace murmela {

// Everything the agent integration takes from the process, read once: the
// targets work on this value alone, so tests can drive them without a
// process of their own.
// The path's last component is "murmela-cli" or "murmela-cli.exe", ASCII
// letters compared without regard to case: any copy of the CLI counts as ours.
bool is_own_cli(std::string_view path);

struct AgentEnvironment {
  std::string cli_path;                    // the running CLI, links not resolved
  std::string data_folder;                 // the app's data folder
  std::optional<std::string> home;         // $HOME, when it names a folder
  std::optional<std::string> search_path;  // $PATH
  std::optional<std::string> codex_home;   // $CODEX_HOME
  // Set only to absolute paths, as the products themselves take them.
  std::optional<std::string> xdg_config_home;  // $XDG_CONFIG_HOME: opencode's, Claude Desktop's
  std::optional<std::string> gemini_cli_home;  // $GEMINI_CLI_HOME: Gemini CLI's, instead of HOME
  std::string current_folder;                  // for relative PATH entries; may be empty

  static AgentEnvironment of_process(std::string cli_path, std::string data_folder);
};

}  // namespace murmela
