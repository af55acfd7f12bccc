#include <optional>
#include <string_view>
#include <utility>

#include "app_link/app_commands.hpp"
#include "cli/meetings/by_id.hpp"
#include "cli/meetings/commands.hpp"
#include "cli/meetings/text_input.hpp"

namespace murmela::meetings {

namespace {

// `save_meeting` takes the whole editable record; one field is replaced and
// the others go back as they were read.
Done save_with(const Context& ctx, const std::string& id, std::string_view field, Json value) {
  TRY_ASSIGN(auto full_id, resolve_meeting_id(ctx, id));
  constexpr const AppCommand& kGet = app_command("get_meeting");
  TRY_ASSIGN(auto record, call_app(ctx, kGet.name, {{kGet.key("id"), full_id}}, false));

  constexpr const AppCommand& kSave = app_command("save_meeting");
  Json saved = Json::object();
  for (const std::string_view key : kSave.arguments()) {
    saved[std::string(key)] = member_or_null(record, key);
  }
  saved[std::string(field)] = std::move(value);
  return call_and_print_meeting(ctx, kSave.name, saved);
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
  return save_with(ctx, id, app_command("save_meeting").key("title"), title);
}

Done set_notes(const Context& ctx, const std::string& id) {
  return save_text_input(ctx, id, app_command("save_meeting").key("notes"));
}

Done set_transcript(const Context& ctx, const std::string& id) {
  return save_text_input(ctx, id, app_command("save_meeting").key("transcript"));
}

Done rename_speaker(const Context& ctx, const std::string& id, const std::string& from,
                    const std::string& to) {
  constexpr const AppCommand& kRename = app_command("rename_meeting_speaker");
  return call_and_print_meeting_by_id(ctx, kRename.name, id,
                                      {{kRename.key("from"), from}, {kRename.key("to"), to}});
}

Done labels(const Context& ctx, const std::string& id, bool enabled) {
  constexpr const AppCommand& kLabels = app_command("set_meeting_speaker_labels");
  return call_and_print_meeting_by_id(
      ctx, kLabels.name, id,
      {{kLabels.key("enabled"), enabled}, {kLabels.key("confirmed"), ctx.invocation.confirm}});
}

Done clean(const Context& ctx, const std::string& id) {
  return call_and_print_meeting_by_id(ctx, app_command("clean_meeting").name, id);
}

Done generate_notes(const Context& ctx, const std::string& id) {
  auto preset = sent_preset(ctx.invocation.option("preset"));
  if (!preset) {
    return fail(CliError::usage(
        "--preset is summary, tasks, speakers, brief, formatted-transcript or custom."));
  }
  constexpr const AppCommand& kNotes = app_command("generate_notes");
  return call_and_print_meeting_by_id(
      ctx, kNotes.name, id,
      {{kNotes.key("preset"), *preset},
       {kNotes.key("instructions"), ctx.invocation.option("instructions").value_or("")}});
}

Done remove(const Context& ctx, const std::string& id) {
  if (!ctx.invocation.confirm) {
    return fail(
        CliError::usage("Deleting a meeting removes its audio and transcript. Add --confirm."));
  }
  return call_and_print_by_id(ctx, app_command("delete_meeting").name, id);
}

}  // namespace murmela::meetings
