#pragma once

#include <string_view>

#include "app_link/app_link.hpp"
#include "cli/invocation.hpp"
#include "common/output.hpp"

namespace murmela {

// What every command runs with: the command line, the way to the app, and
// where results go.
struct Context {
  const Invocation& invocation;
  AppLink& app;
  Output& out;
};

// One app command; the app is started when needed unless --no-launch.
[[nodiscard]] inline Result<Json> call_app(const Context& ctx, std::string_view command,
                                           const Json& args, bool detach) {
  auto result = ctx.app.call(command, args, detach, ctx.invocation.no_launch);
  if (!result) return fail(result.error());
  return to_json(result->root());
}

// One app command with the detach marker from --detach; the result printed
// unchanged, straight from the reply's text.
[[nodiscard]] inline Done call_and_print(const Context& ctx, std::string_view command,
                                         const Json& args) {
  auto result = ctx.app.call(command, args, ctx.invocation.detach, ctx.invocation.no_launch);
  if (!result) return fail(result.error());
  print_json(ctx.out, result->root());
  return {};
}

}  // namespace murmela
