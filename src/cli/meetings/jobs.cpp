#include "cli/meetings/jobs.hpp"

#include <thread>

#include <fmt/format.h>

#include "app_link/app_commands.hpp"
#include "cli/invocation.hpp"
#include "cli/meetings/by_id.hpp"
#include "cli/meetings/commands.hpp"
#include "cli/meetings/summary.hpp"

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
  TRY_ASSIGN(const auto timeout, wait_timeout(ctx.invocation));

  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  ShownProgress progress(ctx);
  for (;;) {
    constexpr const AppCommand& kGet = app_command("get_meeting");
    TRY_ASSIGN(auto record, call_app(ctx, kGet.name, {{kGet.key("id"), id}}, false));
    const std::string* status_text = string_member(record, "status");
    const std::string status = status_text ? *status_text : std::string();

    if (is_busy_status(status)) {
      const std::string* title = string_member(record, "title");
      progress.show(status, id, title ? *title : std::string_view());
      const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - start);
      if (static_cast<std::uint64_t>(elapsed.count()) >= timeout) {
        return fail(CliError::failed(fmt::format("Still {} after {} s.", status, timeout)));
      }
      std::this_thread::sleep_for(kWaitPollInterval);
      continue;
    }

    progress.end();
    print_json(ctx.out, summarize_meeting(record));
    if (status != "failed") return {};
    const std::string* error = string_member(record, "error");
    return fail(CliError::failed(error ? *error : "The operation failed."));
  }
}

}  // namespace murmela

namespace murmela::meetings {

Done transcribe(const Context& ctx, const std::string& id) {
  auto model = ctx.invocation.option("model");
  constexpr const AppCommand& kTranscribe = app_command("transcribe_meeting");
  return call_and_print_meeting_by_id(ctx, kTranscribe.name, id,
                                      {{kTranscribe.key("model"), model ? Json(*model) : Json()}});
}

Done wait(const Context& ctx, const std::string& id) {
  TRY_ASSIGN(auto full_id, resolve_meeting_id(ctx, id));
  return wait_for_meeting(ctx, full_id);
}

Done cancel(const Context& ctx, const std::string& id) {
  return call_and_print_by_id(ctx, app_command("cancel_meeting").name, id);
}

}  // namespace murmela::meetings
