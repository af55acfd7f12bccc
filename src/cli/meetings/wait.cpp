#include "cli/meetings/wait.hpp"

#include <thread>

#include <fmt/format.h>

#include "cli/meetings/summary.hpp"
#include "cli/unsigned_number.hpp"

namespace murmela {

bool is_busy_status(std::string_view status) {
  for (std::string_view busy : {"recording", "importing", "finalizing", "transcribing",
                                "processingNotes", "generatingTitle"}) {
    if (status == busy) return true;
  }
  return false;
}

Result<std::uint64_t> wait_timeout(const Invocation& invocation) {
  auto typed = invocation.option("timeout");
  if (!typed) return kDefaultWaitTimeoutSeconds;
  auto seconds = parse_unsigned(*typed);
  if (!seconds) return fail(CliError::usage("--timeout is a number of seconds."));
  return *seconds;
}

Done wait_for_meeting(const Context& ctx, const std::string& id) {
  auto timeout = wait_timeout(ctx.invocation);
  if (!timeout) return fail(timeout.error());

  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  for (;;) {
    auto record = call_app(ctx, "get_meeting", {{"id", id}}, false);
    if (!record) return fail(record.error());
    const std::string* status_text = string_member(*record, "status");
    const std::string status = status_text ? *status_text : std::string();

    if (is_busy_status(status)) {
      const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - start);
      if (static_cast<std::uint64_t>(elapsed.count()) >= *timeout) {
        return fail(CliError::failed(fmt::format("Still {} after {} s.", status, *timeout)));
      }
      std::this_thread::sleep_for(kWaitPollInterval);
      continue;
    }

    print_json(ctx.out, summarize_meeting(*record));
    if (status != "failed") return {};
    const std::string* error = string_member(*record, "error");
    return fail(CliError::failed(error ? *error : "The operation failed."));
  }
}

}  // namespace murmela
