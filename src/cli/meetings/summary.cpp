#include "cli/meetings/summary.hpp"

#include "common/utf8.hpp"

namespace murmela {

namespace {

std::size_t text_length(const Json& record, std::string_view key) {
  const std::string* text = string_member(record, key);
  return text ? code_point_count(*text) : 0;
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
  auto result = call_app(ctx, command, args, ctx.invocation.detach);
  if (!result) return fail(result.error());
  const bool is_record = result->is_object() && result->contains("transcript");
  print_json(ctx.out, is_record ? summarize_meeting(*result) : *result);
  return {};
}

}  // namespace murmela
