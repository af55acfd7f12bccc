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
inline Result<Json> call_app(const Context& ctx, std::string_view command, const Json& args,
                             bool detach) {
  return ctx.app.call(command, args, detach, ctx.invocation.no_launch);
}

// One app command with the detach marker from --detach; the result printed
// unchanged.
inline Done call_and_print(const Context& ctx, std::string_view command, const Json& args) {
  auto result = call_app(ctx, command, args, ctx.invocation.detach);
  if (!result) return fail(result.error());
  print_json(ctx.out, *result);
  return {};
}

}  // namespace murmela
