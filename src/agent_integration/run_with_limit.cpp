#include "agent_integration/run_with_limit.hpp"

#include <csignal>
#include <memory>
#include <optional>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

#include <fmt/format.h>

#include "common/files.hpp"
#include "common/process.hpp"
#include "common/system_error.hpp"
#include "common/utf8.hpp"

namespace murmela {

namespace {

// Drains one pipe on a thread of its own, so that a child writing a lot can
// never block on a full pipe while we wait for it. The text lives in shared
// state: after a time-out the reader is detached and may outlive the call.
class PipeReader {
 public:
  explicit PipeReader(int fd) : state_(std::make_shared<State>()) {
    thread_ = std::thread([state = state_, fd] {
      auto bytes = read_stream(fd);
      ::close(fd);
      if (bytes && is_valid_utf8(*bytes)) state->text = *std::move(bytes);
    });
  }
  PipeReader(const PipeReader&) = delete;
  PipeReader& operator=(const PipeReader&) = delete;
  ~PipeReader() {
    if (thread_.joinable()) thread_.detach();
  }

  std::optional<std::string> join() {
    thread_.join();
    return state_->text;
  }

 private:
  struct State {
    std::optional<std::string> text;
  };
  std::shared_ptr<State> state_;
  std::thread thread_;
};

std::string joined_output(const std::optional<std::string>& out, const std::optional<std::string>& err) {
  if (out && err) return *out + "\n" + *err;
  return out ? *out : err.value_or("");
}

}  // namespace

CommandOutcome run_with_limit(const std::string& program, const std::vector<std::string>& arguments,
                              const RunLimits& limits) {
  std::vector<std::string> argv{program};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  auto child = spawn_process(program, argv, {.capture_output = true, .working_directory = limits.working_directory});
  if (!child) {
    return {.error = fmt::format("Cannot run {}: {}", program, system_error_text(child.error()))};
  }

  PipeReader out(child->stdout_fd);
  PipeReader err(child->stderr_fd);
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    bool check_failed = false;
    if (auto status = poll_exit(child->pid, check_failed)) {
      const bool success = WIFEXITED(*status) && WEXITSTATUS(*status) == 0;
      return {.completed = true, .success = success, .output = joined_output(out.join(), err.join())};
    }
    if (check_failed || std::chrono::steady_clock::now() - start >= limits.time_limit) break;
    std::this_thread::sleep_for(limits.poll_interval);
  }
  ::kill(child->pid, SIGKILL);
  ::waitpid(child->pid, nullptr, 0);  // no zombie left behind
  return {.error = fmt::format("{} did not finish in time.", program)};
}

}  // namespace murmela
