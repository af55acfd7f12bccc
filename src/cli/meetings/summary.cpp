#include "cli/meetings/summary.hpp"

#include "app_link/app_commands.hpp"
#include "common/utf8.hpp"

namespace murmela {

namespace {

std::size_t text_length(const Json& record, std::string_view key) {
  const std::string* text = string_member(record, key);
  return text ? code_point_count(*text) : 0;
}

// The word the progress line shows while the app holds its answer to a job
// command until the job is done; null for commands that answer at once.
const char* job_word(std::string_view command) {
  if (command == app_command("import_media").name) return "importing";
  if (command == app_command("join_meetings").name) return "joining";
  if (command == app_command("stop_meeting").name) return "finalizing";
  if (command == app_command("transcribe_meeting").name) return "transcribing";
  if (command == app_command("generate_notes").name) return "generating notes";
  return nullptr;
}

Result<Json> call_waiting_for_job(const Context& ctx, std::string_view command, const Json& args) {
  ShownProgress progress(ctx);
  const char* word = job_word(command);
  if (word != nullptr && !ctx.invocation.detach) {
    const std::string* id = string_member(args, "id");
    progress.show(word, id ? *id : std::string_view());
  }
  return call_app(ctx, command, args, ctx.invocation.detach);
}

}  // namespace

Json summarize_meeting(const Json& record) {
  Json summary = Json::object();
  for (const char* key :
       {"id", "title", "status", "createdAt", "durationSeconds", "source", "transcriptionModel",
        "speakerLabels", "speakerCount", "recognitionCompleteness", "recordingWarnings",
        "recognitionWarnings", "error"}) {
    summary[key] = member_or_null(record, key);
  }
  summary["transcriptChars"] = text_length(record, "transcript");
  summary["notesChars"] = text_length(record, "notes");
  return summary;
}

Done call_and_print_meeting(const Context& ctx, std::string_view command, const Json& args) {
  TRY_ASSIGN(auto result, call_waiting_for_job(ctx, command, args));
  const bool is_record = result.is_object() && result.contains("transcript");
  print_json(ctx.out, is_record ? summarize_meeting(result) : result);
  return {};
}

}  // namespace murmela
