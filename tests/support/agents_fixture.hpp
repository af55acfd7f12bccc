#pragma once

#include <string>

#include <nlohmann/json.hpp>

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

  nlohmann::json target_line(const std::string& action, const std::string& target,
                             int expected_exit = 0) {
    return line_of(run_agents(action, expected_exit), target);
  }
};

}  // namespace testing_support
