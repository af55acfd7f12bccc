#include "cli/dictation.hpp"

#include <cstdint>

#include "cli/invocation.hpp"

namespace murmela {

namespace {

constexpr std::uint64_t kDefaultHistoryLimit = 20;

Done run_dictation_step(const Context& ctx, const char* command) {
  auto result = call_app(ctx, command, Json::object(), ctx.invocation.detach);
  if (!result) return fail(result.error());
  print_json(ctx.out, {{"state", member_or_null(*result, "state")},
                       {"error", member_or_null(*result, "error")},
                       {"outputText", member_or_null(*result, "outputText")}});
  return {};
}

Done run_history(const Context& ctx) {
  std::uint64_t limit = kDefaultHistoryLimit;
  if (auto typed = ctx.invocation.option("limit")) {
    auto parsed = parse_unsigned(*typed);
    if (!parsed) return fail(CliError::usage("--limit must be a number."));
    limit = *parsed;
  }
  return call_and_print(ctx, "list_dictations", {{"limit", limit}});
}

}  // namespace

Done run_dictation(const Context& ctx, std::span<const std::string> words) {
  if (words.size() == 1) {
    const std::string& word = words[0];
    if (word == "start") return run_dictation_step(ctx, "start_dictation");
    if (word == "stop") return run_dictation_step(ctx, "stop_dictation");
    if (word == "cancel") return run_dictation_step(ctx, "cancel_dictation");
    if (word == "history") return run_history(ctx);
    if (word == "copy-last") return call_and_print(ctx, "copy_last_dictation", Json::object());
  }
  return fail(CliError::usage("Use `dictation start|stop|cancel|history|copy-last`."));
}

}  // namespace murmela
