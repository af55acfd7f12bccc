#include "app_link/launch.hpp"

#include <array>
#include <chrono>
#include <optional>
#include <thread>

#include <sys/wait.h>

#include <fmt/format.h>

#include "app_link/app_link.hpp"
#include "app_link/exchange.hpp"
#include "common/paths.hpp"
#include "common/platform.hpp"
#include "common/process.hpp"
#include "common/system_error.hpp"

namespace murmela {

namespace {

constexpr std::array kAppNames = {"Murmela", "murmela"};
constexpr auto kPollInterval = std::chrono::milliseconds(500);
constexpr auto kStartLimit = std::chrono::seconds(90);

std::optional<std::string> app_in(const std::string& folder) {
  for (const char* name : kAppNames) {
    std::string candidate = join_path(folder, name);
    if (is_regular_file(candidate)) return candidate;
  }
  return std::nullopt;
}

Result<std::string> find_app() {
  auto cli = platform::executable_path();
  if (!cli) return fail(CliError::failed(cli.error()));
  auto folder = parent_folder(*cli);
  if (!folder) return fail(CliError::failed("Cannot find the Murmela folder."));
  if (auto app = app_in(*folder)) return *app;
  // Run through a link (~/.local/bin/murmela-cli), the app sits beside the
  // file the link leads to.
  if (auto linked = parent_folder(final_link_target(*cli)); linked && *linked != *folder) {
    if (auto app = app_in(*linked)) return *app;
  }
  return fail(CliError::not_running(
      fmt::format("Murmela is not running, and the app was not found beside {}.", *folder)));
}

bool ping() { return send_request(socket_path(), "ping", Json::object(), false).has_value(); }

// How a process that has ended went: its exit status or the signal that
// ended it.
std::string how_it_ended(int status) {
  if (WIFSIGNALED(status)) return fmt::format("killed by signal {}", WTERMSIG(status));
  return fmt::format("exit status {}", WEXITSTATUS(status));
}

Done wait_until_answering(const std::string& app_path, pid_t app) {
  const auto start = std::chrono::steady_clock::now();
  bool app_ended = false;
  for (;;) {
    if (std::chrono::steady_clock::now() - start >= kStartLimit) {
      return fail(CliError::not_running("Murmela did not start within 90 seconds."));
    }
    std::this_thread::sleep_for(kPollInterval);
    if (ping()) return {};
    if (app_ended) continue;

    bool check_failed = false;
    const auto status = poll_exit(app, check_failed);
    if (!status) continue;
    app_ended = true;
    if (ping()) continue;
    // The copy we started is gone and nobody answers. One that ended well
    // handed over to a copy that holds the app's place but does not serve
    // the CLI; one that failed had a reason of its own, which it wrote on
    // the standard error it had no terminal for.
    if (WIFEXITED(*status) && WEXITSTATUS(*status) == 0) {
      return fail(CliError::not_running(
          "Murmela is running but does not accept CLI commands. Update Murmela, or quit and "
          "reopen it, then try again."));
    }
    return fail(CliError::not_running(
        fmt::format("Murmela ended before it answered ({}). Run {} in a terminal to see why.",
                    how_it_ended(*status), app_path)));
  }
}

}  // namespace

Result<JsonDocument> launch_and_retry(std::string_view command, const Json& args, bool detach) {
  TRY_ASSIGN(const auto app, find_app());

  auto started = spawn_process(app, {app, "--startup"}, {.new_process_group = true});
  if (!started) return fail(SystemError{started.error().number, "Cannot start " + app});
  TRY(wait_until_answering(app, started->pid));

  auto reply = send_request(socket_path(), command, args, detach);
  if (reply) return *std::move(reply);
  if (reply.error().unreachable()) {
    return fail(CliError::not_running(
        fmt::format("Murmela started but is not answering: {}", reply.error().text)));
  }
  return fail(CliError::failed(reply.error().text));
}

}  // namespace murmela
