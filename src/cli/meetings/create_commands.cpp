#include "app_link/app_commands.hpp"
#include "cli/meetings/commands.hpp"
#include "cli/meetings/meeting_id.hpp"
#include "cli/meetings/summary.hpp"
#include "common/paths.hpp"

namespace murmela::meetings {

Done record_start(const Context& ctx) {
  const auto& inv = ctx.invocation;
  constexpr const AppCommand& kStart = app_command("start_meeting");
  return call_and_print_meeting(ctx, kStart.name,
                                {{kStart.key("title"), inv.option("title").value_or("")},
                                 {kStart.key("source"), inv.option("source").value_or("both")}});
}

Done record_stop(const Context& ctx) {
  return call_and_print_meeting(ctx, app_command("stop_meeting").name, Json::object());
}

Done import_media(const Context& ctx, const std::string& file) {
  TRY_ASSIGN(auto path, absolute_path(file));
  constexpr const AppCommand& kImport = app_command("import_media");
  return call_and_print_meeting(ctx, kImport.name, {{kImport.key("path"), path}});
}

// IDs resolve in the order typed; the first that fails ends the command.
Done join(const Context& ctx, Words ids) {
  Json full_ids = Json::array();
  for (const std::string& id : ids) {
    TRY_ASSIGN(auto full_id, resolve_meeting_id(ctx, id));
    full_ids.push_back(full_id);
  }
  auto title = ctx.invocation.option("title");
  constexpr const AppCommand& kJoin = app_command("join_meetings");
  return call_and_print_meeting(
      ctx, kJoin.name,
      {{kJoin.key("ids"), full_ids}, {kJoin.key("title"), title ? Json(*title) : Json()}});
}

}  // namespace murmela::meetings
