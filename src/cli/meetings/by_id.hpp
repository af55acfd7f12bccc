#pragma once

#include <string_view>

#include "cli/meetings/meeting_id.hpp"
#include "cli/meetings/summary.hpp"

namespace murmela::meetings {

// Resolves `id`, then sends `command` with the full ID as `id` plus `extra`
// members, printing the answer as it came.
[[nodiscard]] inline Done call_and_print_by_id(const Context& ctx, std::string_view command,
                                               const std::string& id, Json extra = Json::object()) {
  TRY_ASSIGN(extra["id"], resolve_meeting_id(ctx, id));
  return call_and_print(ctx, command, extra);
}

// The same, printing a meeting record as its summary.
[[nodiscard]] inline Done call_and_print_meeting_by_id(const Context& ctx, std::string_view command,
                                                       const std::string& id,
                                                       Json extra = Json::object()) {
  TRY_ASSIGN(extra["id"], resolve_meeting_id(ctx, id));
  return call_and_print_meeting(ctx, command, extra);
}

}  // namespace murmela::meetings
