#include "agent_integration/agents_command.hpp"

namespace murmela {

Done run_agents(const Context&, std::span<const std::string>) {
  return fail(CliError::usage("Use `agents status|install|remove`."));
}

}  // namespace murmela
