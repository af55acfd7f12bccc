#include "cli/dictation.hpp"

#include <cstdint>

#include "app_link/app_commands.hpp"
#include "cli/invocation.hpp"

namespace murmela {

namespace {

constexpr std::uint64_t kDefaultHistoryLimit = 20;

std::string_view step_command(std::string_view step) {
  if (step == "start") return app_command("start_dictation").name;
  if (step == "stop") return app_command("stop_dictation").name;
  return app_command("cancel_dictation").name;
}

}  // namespace

Done dictation_step(const Context& ctx, std::string_view step) {
  TRY_ASSIGN(auto result, call_app(ctx, step_command(step), Json::object(), ctx.invocation.detach));
  print_json(ctx.out, {{"state", member_or_null(result, "state")},
                       {"error", member_or_null(result, "error")},
                       {"outputText", member_or_null(result, "outputText")}});
  return {};
}

Done dictation_history(const Context& ctx) {
  std::uint64_t limit = kDefaultHistoryLimit;
  if (auto typed = ctx.invocation.option("limit")) {
    auto parsed = parse_unsigned(*typed);
    if (!parsed) return fail(CliError::usage("--limit must be a number."));
    limit = *parsed;
  }
  constexpr const AppCommand& kList = app_command("list_dictations");
  return call_and_print(ctx, kList.name, {{kList.key("limit"), limit}});
}

}  // namespace murmela
