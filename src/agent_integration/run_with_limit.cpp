#include "agent_integration/run_with_limit.hpp"

#include <array>
#include <cerrno>
#include <csignal>
#include <optional>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fmt/format.h>

#include "common/descriptor.hpp"
#include "common/platform.hpp"
#include "common/process.hpp"
#include "common/system_error.hpp"
#include "common/utf8.hpp"

namespace murmela {

namespace {

using Clock = std::chrono::steady_clock;

// Without a descriptor for the child's end, its exit is checked this often.
constexpr std::chrono::milliseconds kExitCheckInterval{10};

// One captured output stream, read as it comes so the child never blocks on
// a full pipe.
struct Capture {
  FileDescriptor fd;
  std::string bytes;
  bool failed = false;

  bool open() const { return fd.valid(); }
  void close() { fd.close(); }
  // Reads what the pipe holds now; closes it at its end or on an error.
  void drain() {
    char buffer[65536];
    while (open()) {
      const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
      if (got > 0) {
        bytes.append(buffer, static_cast<std::size_t>(got));
        continue;
      }
      if (got < 0 && errno == EINTR) continue;
      if (got < 0 && errno == EAGAIN) return;
      failed = got < 0;
      close();
    }
  }
  std::optional<std::string> text() const {
    if (failed || !is_valid_utf8(bytes)) return std::nullopt;
    return bytes;
  }
};

std::string joined_output(const std::optional<std::string>& out,
                          const std::optional<std::string>& err) {
  if (out && err) return *out + "\n" + *err;
  return out ? *out : err.value_or("");
}

// Waits for output, the child's end or the deadline, whichever comes first.
void wait_for_events(std::array<Capture, 2>& captures, int exit_watch, Clock::time_point deadline) {
  std::array<pollfd, 3> fds{};
  nfds_t count = 0;
  for (auto& capture : captures) {
    if (capture.open()) fds[count++] = {capture.fd.get(), POLLIN, 0};
  }
  if (exit_watch >= 0) fds[count++] = {exit_watch, POLLIN, 0};
  auto wait = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
  if (exit_watch < 0) wait = std::min(wait, kExitCheckInterval);
  ::poll(fds.data(), count, static_cast<int>(std::max<long long>(wait.count(), 0)));
}

}  // namespace

CommandOutcome run_with_limit(const std::string& program, const std::vector<std::string>& arguments,
                              const RunLimits& limits) {
  std::vector<std::string> argv{program};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  auto child = spawn_process(program, argv,
                             {.capture_output = true,
                              .new_process_group = true,
                              .working_directory = limits.working_directory});
  if (!child) {
    return {.error = fmt::format("Cannot run {}: {}", program, system_error_text(child.error()))};
  }

  std::array<Capture, 2> captures{Capture{FileDescriptor(child->stdout_fd)},
                                  Capture{FileDescriptor(child->stderr_fd)}};
  for (auto& capture : captures) {
    ::fcntl(capture.fd.get(), F_SETFL, ::fcntl(capture.fd.get(), F_GETFL) | O_NONBLOCK);
  }
  const int exit_watch = platform::open_exit_watch(child->pid);
  const auto deadline = Clock::now() + limits.time_limit;

  std::optional<int> status;
  bool check_failed = false;
  for (;;) {
    wait_for_events(captures, exit_watch, deadline);
    for (auto& capture : captures) capture.drain();
    status = poll_exit(child->pid, check_failed);
    if (status || check_failed || Clock::now() >= deadline) break;
  }
  if (exit_watch >= 0) ::close(exit_watch);

  if (status) {
    // What the pipes hold once the program has ended is all of its answer.
    for (auto& capture : captures) {
      capture.drain();
      capture.close();
    }
    const bool success = WIFEXITED(*status) && WEXITSTATUS(*status) == 0;
    return {.completed = true,
            .success = success,
            .output = joined_output(captures[0].text(), captures[1].text())};
  }
  ::kill(-child->pid, SIGKILL);
  ::kill(child->pid, SIGKILL);
  ::waitpid(child->pid, nullptr, 0);  // no zombie left behind
  for (auto& capture : captures) capture.close();
  return {.error = fmt::format("{} did not finish in time.", program)};
}

}  // namespace murmela
