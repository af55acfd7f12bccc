#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "agent_integration/integration.hpp"
#include "cli_fixture.hpp"

namespace testing_support {

// Runs `murmela-cli agents ...` and reads its report.
class AgentsTest : public CliTest {
 protected:
  nlohmann::json run_agents(const std::string& action, int expected_exit = 0) {
    auto result = run({"agents", action});
    EXPECT_EQ(result.exit_code, expected_exit) << result.err;
    return nlohmann::json::parse(result.out, nullptr, false);
  }

  // The report line of one target, or null when the report has none.
  static nlohmann::json line_of(const nlohmann::json& report, const std::string& target) {
    for (const auto& line : report) {
      if (line["target"] == target) return line;
    }
    return nullptr;
  }

  // What `agents install|remove|status` does, run in this process against
  // the test's HOME as the CLI at `cli` would run it: for tests that edit
  // hundreds of files, where starting a process (slow under the sanitizers)
  // would cost far more than the edit.
  murmela::Reports integrate_here(murmela::IntegrationMode mode) const {
    const murmela::AgentEnvironment environment{.cli_path = cli,
                                                .data_folder = data_folder(),
                                                .home = home.path(),
                                                .search_path = env.at("PATH"),
                                                .current_folder = home.path()};
    return murmela::run_integration(mode, environment);
  }

  nlohmann::json target_line(const std::string& action, const std::string& target,
                             int expected_exit = 0) {
    return line_of(run_agents(action, expected_exit), target);
  }
};

}  // namespace testing_support
