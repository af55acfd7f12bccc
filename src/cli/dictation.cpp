#include "cli/dictation.hpp"

#include <cstdint>

#include <fmt/format.h>

#include "cli/invocation.hpp"

namespace murmela {

namespace {

constexpr std::uint64_t kDefaultHistoryLimit = 20;

}  // namespace

Done dictation_step(const Context& ctx, std::string_view step) {
  const std::string command = fmt::format("{}_dictation", step);
  TRY_ASSIGN(auto result, call_app(ctx, command, Json::object(), ctx.invocation.detach));
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
  return call_and_print(ctx, "list_dictations", {{"limit", limit}});
}

}  // namespace murmela
