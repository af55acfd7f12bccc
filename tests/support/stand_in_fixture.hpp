#pragma once

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <spawn.h>
#include <sys/wait.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "app_link/exchange.hpp"
#include "cli_fixture.hpp"

namespace testing_support {

// The stand-in app started by the test itself, in the test's HOME; the CLI
// talks to it with --no-launch. Its jobs move on only when the test steps
// them, so no test depends on how fast the machine is.
class StandIn : public CliTest {
 protected:
  pid_t app = -1;

  virtual const char* step_setting() const { return "manual"; }
  virtual std::vector<std::string> arguments() const { return {}; }

  void SetUp() override {
    env["MURMELA_STAND_IN_STEP_MS"] = step_setting();
    app = start();
    ASSERT_TRUE(answers_ping());
  }

  // One request to the app from this process. The tests that step jobs ask
  // every few milliseconds, and a CLI process start under the sanitizers
  // costs more than the whole exchange.
  bool app_answers(std::string_view command) const {
    return murmela::send_request(socket_path(), command, nlohmann::json::object(), false)
        .has_value();
  }

  // Asks until the app answers (it may still be starting), for a generous
  // while on a busy machine; then the CLI's own ping must get through too.
  bool answers_ping() {
    for (int i = 0; i < 3000; ++i) {
      if (app_answers("ping")) return run({"ping", "--no-launch"}).exit_code == 0;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  void step() { EXPECT_TRUE(app_answers("stand_in_step")); }

  // Runs a command that waits for a job, moving the job on until it returns.
  RunResult run_stepping(std::vector<std::string> args) {
    args.push_back("--no-launch");
    std::atomic<bool> done{false};
    RunResult result;
    std::thread command([&] {
      result = run(args);
      done = true;
    });
    for (int i = 0; i < 5000 && !done; ++i) {
      step();
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    command.join();
    return result;
  }

  nlohmann::json stepped_json(const std::vector<std::string>& args) {
    auto result = run_stepping(args);
    EXPECT_EQ(result.exit_code, 0) << result.err;
    return nlohmann::json::parse(result.out, nullptr, false);
  }

  void TearDown() override {
    if (app > 0) {
      app_answers("quit_app");
      int status = 0;
      ::waitpid(app, &status, 0);
    }
  }

  pid_t start() const {
    std::vector<std::string> words{"--startup"};
    for (const auto& argument : arguments()) words.push_back(argument);
    SpawnVectors vectors(kStandInPath, words, env);
    pid_t pid = -1;
    posix_spawn(&pid, kStandInPath.c_str(), nullptr, nullptr, vectors.argv(), vectors.envp());
    return pid;
  }

  nlohmann::json cli_json(const std::vector<std::string>& args) {
    std::vector<std::string> all = args;
    all.push_back("--no-launch");
    auto result = run(all);
    EXPECT_EQ(result.exit_code, 0) << result.err;
    return nlohmann::json::parse(result.out, nullptr, false);
  }
};

}  // namespace testing_support
