#pragma once

#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fake_app.hpp"
#include "run_program.hpp"
#include "temp_dir.hpp"

namespace testing_support {

// The built programs, as CMake placed them.
inline const std::string kCliPath = MURMELA_CLI_PATH;
inline const std::string kStandInPath = MURMELA_STAND_IN_PATH;

// Each test runs the CLI in a fresh HOME of its own, with a small, fixed
// environment.
class CliTest : public ::testing::Test {
 protected:
  TempDir home;
  std::string cli = kCliPath;
  std::map<std::string, std::string> env{{"HOME", home.path()}, {"PATH", "/usr/bin:/bin"}};

  std::string data_folder() const { return home / ".local/share/Murmela"; }
  std::string socket_path() const { return data_folder() + "/cli.sock"; }

  // Runs in `cwd`, by default the test's own HOME, so that nothing the CLI
  // writes relative to its working folder lands outside the test's folders.
  RunResult run(const std::vector<std::string>& args, const std::string& input = "",
                const std::string& cwd = "") const {
    return run_program(cli, args, {env, input, cwd.empty() ? home.path() : cwd});
  }

  // A copy of the CLI in a folder of its own, so that no app sits beside it.
  std::string copy_cli_to(const std::string& folder, const std::string& name = "murmela-cli") const;
};

}  // namespace testing_support
