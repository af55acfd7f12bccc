#include "cli/meetings/by_id.hpp"
#include "cli/meetings/commands.hpp"
#include "cli/meetings/wait.hpp"

namespace murmela::meetings {

Done transcribe(const Context& ctx, const std::string& id) {
  auto model = ctx.invocation.option("model");
  return call_and_print_meeting_by_id(ctx, "transcribe_meeting", id,
                                      {{"model", model ? Json(*model) : Json()}});
}

Done wait(const Context& ctx, const std::string& id) {
  auto full_id = resolve_meeting_id(ctx, id);
  if (!full_id) return fail(full_id.error());
  return wait_for_meeting(ctx, *full_id);
}

Done cancel(const Context& ctx, const std::string& id) {
  return call_and_print_by_id(ctx, "cancel_meeting", id);
}

}  // namespace murmela::meetings
