#include "agent_integration/agent_environment.hpp"

#include <algorithm>

#include "common/environment.hpp"
#include "common/paths.hpp"
#include "common/utf8.hpp"

namespace murmela {

bool is_own_cli(std::string_view path) {
  auto name = file_name(path);
  if (!name || !is_valid_utf8(*name)) return false;
  auto equals_folded = [](std::string_view text, std::string_view lower) {
    return text.size() == lower.size() &&
           std::equal(text.begin(), text.end(), lower.begin(), [](char c, char l) {
             return (c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) == l;
           });
  };
  return equals_folded(*name, "murmela-cli") || equals_folded(*name, "murmela-cli.exe");
}

namespace {

// A relative or empty value names no folder the product would use.
std::optional<std::string> absolute_env_value(const char* name) {
  auto value = env_value(name);
  if (!value || !value->starts_with('/')) return std::nullopt;
  return value;
}

}  // namespace

AgentEnvironment AgentEnvironment::of_process(std::string cli_path, std::string data_folder) {
  AgentEnvironment environment{.cli_path = std::move(cli_path),
                               .data_folder = std::move(data_folder)};
  if (auto home = env_value("HOME"); home && !home->empty() && is_directory(*home))
    environment.home = home;
  environment.search_path = env_value("PATH");
  environment.codex_home = env_value("CODEX_HOME");
  environment.xdg_config_home = absolute_env_value("XDG_CONFIG_HOME");
  environment.gemini_cli_home = absolute_env_value("GEMINI_CLI_HOME");
  environment.current_folder = current_directory().value_or("");
  return environment;
}

}  // namespace murmela
