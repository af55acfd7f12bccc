#include "cli/meetings/meetings.hpp"

#include <fmt/format.h>
#include <fmt/ranges.h>

#include "cli/meetings/commands.hpp"

namespace murmela {

namespace {

// Picks the subcommand by its first word and exact word count; nullopt when
// the words name none.
std::optional<Done> run_matching(const Context& ctx, meetings::Words w) {
  using namespace meetings;
  if (w.empty()) return list(ctx);
  const std::string& verb = w[0];
  const std::size_t n = w.size();

  if (n == 1 && verb == "list") return list(ctx);
  if (n == 2 && verb == "record" && w[1] == "start") return record_start(ctx);
  if (n == 2 && verb == "record" && w[1] == "stop") return record_stop(ctx);
  if (n >= 3 && verb == "join") return join(ctx, w.subspan(1));
  if (n == 2) {
    const std::string& id = w[1];
    if (verb == "show") return show(ctx, id);
    if (verb == "transcript") return transcript(ctx, id);
    if (verb == "notes") return notes(ctx, id);
    if (verb == "speakers") return speakers(ctx, id);
    if (verb == "import") return import_media(ctx, id);
    if (verb == "transcribe") return transcribe(ctx, id);
    if (verb == "wait") return wait(ctx, id);
    if (verb == "cancel") return cancel(ctx, id);
    if (verb == "clean") return clean(ctx, id);
    if (verb == "generate-notes") return generate_notes(ctx, id);
    if (verb == "set-notes") return set_notes(ctx, id);
    if (verb == "set-transcript") return set_transcript(ctx, id);
    if (verb == "delete") return remove(ctx, id);
  }
  if (n == 3) {
    if (verb == "rename") return rename(ctx, w[1], w[2]);
    if (verb == "labels" && w[2] == "on") return labels(ctx, w[1], true);
    if (verb == "labels" && w[2] == "off") return labels(ctx, w[1], false);
    if (verb == "export") return export_meeting(ctx, w[1], w[2]);
    if (verb == "export-audio") return export_audio(ctx, w[1], w[2]);
  }
  if (n == 4 && verb == "rename-speaker") return rename_speaker(ctx, w[1], w[2], w[3]);
  return std::nullopt;
}

}  // namespace

Done run_meetings(const Context& ctx, std::span<const std::string> words) {
  if (auto done = run_matching(ctx, words)) return *done;
  return fail(CliError::usage(fmt::format("Unknown meetings command: {}", fmt::join(words, " "))));
}

}  // namespace murmela
