#include <optional>
#include <string_view>
#include <utility>

#include "cli/meetings/by_id.hpp"
#include "cli/meetings/commands.hpp"
#include "cli/meetings/text_input.hpp"

namespace murmela::meetings {

namespace {

// `save_meeting` takes the whole editable record; one field is replaced and
// the others go back as they were read.
Done save_with(const Context& ctx, const std::string& id, std::string_view field, Json value) {
  TRY_ASSIGN(auto full_id, resolve_meeting_id(ctx, id));
  TRY_ASSIGN(auto record, call_app(ctx, "get_meeting", {{"id", full_id}}, false));

  Json saved = Json::object();
  for (const char* key : {"id", "title", "transcript", "notes"}) {
    saved[key] = member_or_null(record, key);
  }
  saved[std::string(field)] = std::move(value);
  return call_and_print_meeting(ctx, "save_meeting", saved);
}

Done save_text_input(const Context& ctx, const std::string& id, std::string_view field) {
  TRY_ASSIGN(auto text, read_text_input(ctx.invocation));
  return save_with(ctx, id, field, std::move(text));
}

std::optional<const char*> sent_preset(const std::optional<std::string>& typed) {
  if (!typed) return "summary";
  static constexpr std::pair<std::string_view, const char*> kPresets[] = {
      {"summary", "summary"},
      {"tasks", "tasks"},
      {"speakers", "speakers"},
      {"brief", "brief"},
      {"custom", "custom"},
      {"formatted-transcript", "formattedTranscript"},
      {"formattedTranscript", "formattedTranscript"},
  };
  for (const auto& [name, sent] : kPresets) {
    if (*typed == name) return sent;
  }
  return std::nullopt;
}

}  // namespace

Done rename(const Context& ctx, const std::string& id, const std::string& title) {
  return save_with(ctx, id, "title", title);
}

Done set_notes(const Context& ctx, const std::string& id) {
  return save_text_input(ctx, id, "notes");
}

Done set_transcript(const Context& ctx, const std::string& id) {
  return save_text_input(ctx, id, "transcript");
}

Done rename_speaker(const Context& ctx, const std::string& id, const std::string& from,
                    const std::string& to) {
  return call_and_print_meeting_by_id(ctx, "rename_meeting_speaker", id,
                                      {{"from", from}, {"to", to}});
}

Done labels(const Context& ctx, const std::string& id, bool enabled) {
  return call_and_print_meeting_by_id(
      ctx, "set_meeting_speaker_labels", id,
      {{"enabled", enabled}, {"confirmed", ctx.invocation.confirm}});
}

Done clean(const Context& ctx, const std::string& id) {
  return call_and_print_meeting_by_id(ctx, "clean_meeting", id);
}

Done generate_notes(const Context& ctx, const std::string& id) {
  auto preset = sent_preset(ctx.invocation.option("preset"));
  if (!preset) {
    return fail(CliError::usage(
        "--preset is summary, tasks, speakers, brief, formatted-transcript or custom."));
  }
  return call_and_print_meeting_by_id(
      ctx, "generate_notes", id,
      {{"preset", *preset}, {"instructions", ctx.invocation.option("instructions").value_or("")}});
}

Done remove(const Context& ctx, const std::string& id) {
  if (!ctx.invocation.confirm) {
    return fail(
        CliError::usage("Deleting a meeting removes its audio and transcript. Add --confirm."));
  }
  return call_and_print_by_id(ctx, "delete_meeting", id);
}

}  // namespace murmela::meetings
