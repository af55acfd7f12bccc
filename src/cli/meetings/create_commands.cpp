#include "cli/meetings/commands.hpp"
#include "cli/meetings/meeting_id.hpp"
#include "cli/meetings/summary.hpp"
#include "common/paths.hpp"

namespace murmela::meetings {

Done record_start(const Context& ctx) {
  const auto& inv = ctx.invocation;
  return call_and_print_meeting(ctx, "start_meeting",
                                {{"title", inv.option("title").value_or("")},
                                 {"source", inv.option("source").value_or("both")}});
}

Done record_stop(const Context& ctx) {
  return call_and_print_meeting(ctx, "stop_meeting", Json::object());
}

Done import_media(const Context& ctx, const std::string& file) {
  TRY_ASSIGN(auto path, absolute_path(file));
  return call_and_print_meeting(ctx, "import_media", {{"path", path}});
}

// IDs resolve in the order typed; the first that fails ends the command.
Done join(const Context& ctx, Words ids) {
  Json full_ids = Json::array();
  for (const std::string& id : ids) {
    TRY_ASSIGN(auto full_id, resolve_meeting_id(ctx, id));
    full_ids.push_back(full_id);
  }
  auto title = ctx.invocation.option("title");
  return call_and_print_meeting(ctx, "join_meetings",
                                {{"ids", full_ids}, {"title", title ? Json(*title) : Json()}});
}

}  // namespace murmela::meetings
