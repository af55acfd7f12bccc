#include "app_link/app_commands.hpp"
#include "cli/meetings/by_id.hpp"
#include "cli/meetings/commands.hpp"
#include "common/shown_text.hpp"

namespace murmela::meetings {

namespace {

Done print_meeting_text(const Context& ctx, const std::string& id, std::string_view key) {
  TRY_ASSIGN(auto full_id, resolve_meeting_id(ctx, id));
  constexpr const AppCommand& kGet = app_command("get_meeting");
  TRY_ASSIGN(auto record, call_app(ctx, kGet.name, {{kGet.key("id"), full_id}}, false));
  const std::string* text = string_member(record, key);
  // Lines and tabs are the text's own; any other control would act on the
  // terminal it is read on, and shows escaped there.
  std::string line = !text                   ? std::string()
                     : ctx.out.is_terminal() ? with_controls_escaped(*text, "\n\t")
                                             : *text;
  line.push_back('\n');
  ctx.out.write(line);
  return {};
}

}  // namespace

Done list(const Context& ctx) {
  return call_and_print(ctx, app_command("list_meetings").name, Json::object());
}

Done show(const Context& ctx, const std::string& id) {
  return call_and_print_by_id(ctx, app_command("get_meeting").name, id);
}

Done transcript(const Context& ctx, const std::string& id) {
  return print_meeting_text(ctx, id, ctx.invocation.cleaned ? "cleanedTranscript" : "transcript");
}

Done notes(const Context& ctx, const std::string& id) {
  return print_meeting_text(ctx, id, "notes");
}

Done speakers(const Context& ctx, const std::string& id) {
  return call_and_print_by_id(ctx, app_command("meeting_speakers").name, id);
}

}  // namespace murmela::meetings
