#include "agent_integration/run_with_limit.hpp"

#include <csignal>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "temp_dir.hpp"

using namespace murmela;
using testing_support::TempDir;
using namespace std::chrono_literals;

namespace {

// Whether the process is gone (or a zombie waiting for init to reap it).
bool ended(int pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const auto close = text.rfind(')');
  return text.empty() || (close != std::string::npos && text.substr(close + 2, 1) == "Z");
}

TEST(RunWithLimit, AtTheLimitTheWholeGroupIsKilled) {
  TempDir folder;
  const std::string pid_file = folder / "child";
  auto outcome = run_with_limit("/bin/sh", {"-c", "sleep 600 & echo $! > \"$0\"; wait", pid_file},
                                {.time_limit = 300ms});
  EXPECT_FALSE(outcome.completed);
  EXPECT_EQ(outcome.error, "/bin/sh did not finish in time.");
  const int child = std::stoi(folder.read("child"));
  for (int i = 0; i < 500 && !ended(child); ++i)
    std::this_thread::sleep_for(10ms);  // the kill is delivered
  EXPECT_TRUE(ended(child));
}

TEST(RunWithLimit, TheAnswerEndsWhenTheProgramEndsNotItsChildren) {
  auto outcome = run_with_limit("/bin/sh", {"-c", "echo answer; sleep 30 & echo $! >&2; exit 0"},
                                {.time_limit = 20s});
  ASSERT_TRUE(outcome.completed) << outcome.error;
  EXPECT_TRUE(outcome.success);
  ASSERT_TRUE(outcome.output.starts_with("answer\n\n")) << outcome.output;
  const int child = std::stoi(outcome.output.substr(8));
  EXPECT_FALSE(ended(child));  // a background child is not ours to stop
  ::kill(child, SIGKILL);
}

TEST(RunWithLimit, ExitCodesAndStreamsThatAreNotText) {
  auto outcome = run_with_limit("/bin/sh", {"-c", "printf '\\377'; echo err >&2; exit 3"});
  ASSERT_TRUE(outcome.completed);
  EXPECT_FALSE(outcome.success);
  EXPECT_EQ(outcome.output, "err\n");
  auto both = run_with_limit("/bin/sh", {"-c", "echo out; echo err >&2"});
  EXPECT_TRUE(both.success);
  EXPECT_EQ(both.output, "out\n\nerr\n");
}

TEST(RunWithLimit, AProgramThatCannotStart) {
  auto outcome = run_with_limit("/nonexistent/claude", {});
  EXPECT_FALSE(outcome.completed);
  EXPECT_EQ(outcome.error,
            "Cannot run /nonexistent/claude: No such file or directory (os error 2)");
}

TEST(RunWithLimit, LotsOfOutputNeverBlocksTheProgram) {
  auto outcome = run_with_limit("/bin/sh", {"-c", "head -c 3000000 /dev/zero | tr '\\\\0' x"});
  ASSERT_TRUE(outcome.completed);
  EXPECT_EQ(outcome.output.size(), 3000001u);
}

}  // namespace
