#include "agent_integration/agent_environment.hpp"

#include "common/environment.hpp"
#include "common/paths.hpp"

namespace murmela {

AgentEnvironment AgentEnvironment::of_process(std::string cli_path, std::string data_folder) {
  AgentEnvironment environment{.cli_path = std::move(cli_path), .data_folder = std::move(data_folder)};
  if (auto home = env_value("HOME"); home && !home->empty() && is_directory(*home)) environment.home = home;
  environment.search_path = env_value("PATH");
  environment.codex_home = env_value("CODEX_HOME");
  environment.current_folder = current_directory().value_or("");
  return environment;
}

}  // namespace murmela
