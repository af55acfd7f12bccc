#include "cli/meetings/absolute_path.hpp"
#include "cli/meetings/commands.hpp"
#include "cli/meetings/export_format.hpp"
#include "cli/meetings/meeting_id.hpp"

namespace murmela::meetings {

// The app writes the file; success of the request is all the CLI needs, and
// it then names the file itself.
Done export_meeting(const Context& ctx, const std::string& id, const std::string& path) {
  auto target = absolute_path(path);
  if (!target) return fail(target.error());
  auto format = export_format_for(*target, ctx.invocation.option("format"));
  if (!format) return fail(format.error());
  auto full_id = resolve_meeting_id(ctx, id);
  if (!full_id) return fail(full_id.error());

  auto done = call_app(ctx, "export_meeting",
                       {{"id", *full_id},
                        {"path", *target},
                        {"format", *format},
                        {"transcriptVersion", ctx.invocation.cleaned ? "cleaned" : "recognized"}},
                       false);
  if (!done) return fail(done.error());
  print_json(ctx.out, {{"exported", *target}, {"format", *format}});
  return {};
}

Done export_audio(const Context& ctx, const std::string& id, const std::string& path) {
  auto target = absolute_path(path);
  if (!target) return fail(target.error());
  auto full_id = resolve_meeting_id(ctx, id);
  if (!full_id) return fail(full_id.error());

  auto done = call_app(ctx, "export_meeting_audio", {{"id", *full_id}, {"path", *target}}, false);
  if (!done) return fail(done.error());
  print_json(ctx.out, {{"exported", *target}});
  return {};
}

}  // namespace murmela::meetings
