#include "library.hpp"

#include <algorithm>
#include <filesystem>

#include <sys/stat.h>

#include <fmt/format.h>

#include "common/atomic_file.hpp"
#include "common/files.hpp"
#include "common/paths.hpp"
#include "common/text.hpp"

namespace stand_in {

namespace {

std::string audio_path(const std::string& folder, const std::string& id) {
  return murmela::join_path(folder, id + ".wav");
}

std::string text_member(const Json& object, std::string_view key, std::string fallback = {}) {
  const std::string* text = murmela::string_member(object, key);
  return text ? *text : fallback;
}

// The record the app answers with, plus what only the stand-in knows: the
// audio script and whether there is audio. The figures derived from the rest
// (speaker count, completeness) come along and are ignored when read back.
Json stored(const Meeting& m) {
  Json record = m.to_json();
  // A job cut short by the stand-in's end leaves the meeting as it was.
  if (m.busy()) record["status"] = m.settled_status;
  record["audioScript"] = m.audio_script;
  record["audio"] = m.audio != nullptr;
  return record;
}

std::expected<Meeting, std::string> meeting_from(const Json& object,
                                                 const std::string& audio_folder) {
  if (!object.is_object()) return std::unexpected("a meeting is not a JSON object");
  Meeting m;
  m.id = text_member(object, "id", new_meeting_id());
  m.title = text_member(object, "title", "Meeting");
  m.created_at = text_member(object, "createdAt", iso_time_now());
  m.source = text_member(object, "source", "import");
  m.transcript = text_member(object, "transcript");
  m.notes = text_member(object, "notes");
  m.settled_status = text_member(object, "status", "ready");
  if (const auto* model = murmela::string_member(object, "transcriptionModel")) {
    m.transcription_model = *model;
  }
  if (const auto* cleaned = murmela::string_member(object, "cleanedTranscript")) {
    m.cleaned_transcript = *cleaned;
  }
  if (const auto* error = murmela::string_member(object, "error")) m.error = *error;
  const Json labels = murmela::member_or_null(object, "speakerLabels");
  m.speaker_labels = !labels.is_boolean() || labels.get<bool>();
  const Json seconds = murmela::member_or_null(object, "durationSeconds");
  if (seconds.is_number()) m.duration_seconds = seconds.get<double>();
  const Json script = murmela::member_or_null(object, "audioScript");
  if (script.is_array()) {
    for (const Json& line : script) {
      if (line.is_string()) m.audio_script.push_back(line.get<std::string>());
    }
  }
  if (m.audio_script.empty()) m.audio_script = murmela::split_lines(m.transcript);
  if (murmela::member_or_null(object, "audio") == true) {
    auto audio = read_audio(audio_path(audio_folder, m.id));
    if (!audio) return std::unexpected(fmt::format("the audio of {}: {}", m.id, audio.error()));
    m.audio = std::make_shared<const Audio>(*std::move(audio));
  }
  return m;
}

// The audio files of meetings that are gone from the library.
void remove_deleted_audio(const std::string& folder, const std::list<Meeting>& meetings) {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    const auto name = entry.path().filename().string();
    const bool kept = std::ranges::any_of(
        meetings, [&](const Meeting& m) { return m.audio && name == m.id + ".wav"; });
    if (!kept && name.ends_with(".wav")) std::filesystem::remove(entry.path(), error);
  }
}

}  // namespace

std::expected<Library, std::string> read_library(const std::string& path,
                                                 const std::string& audio_folder) {
  auto text = murmela::read_file(path);
  if (!text) return std::unexpected(fmt::format("cannot read {}", path));
  auto json = murmela::parse_json(*text);
  if (!json) return std::unexpected(fmt::format("{} is not JSON: {}", path, json.error()));
  const Json meetings = murmela::member_or_null(*json, "meetings");
  if (!meetings.is_array()) return std::unexpected(path + " has no array `meetings`");
  Library library;
  for (const Json& object : meetings) {
    auto meeting = meeting_from(object, audio_folder);
    if (!meeting) return std::unexpected(fmt::format("{}: {}", path, meeting.error()));
    library.meetings.push_back(*std::move(meeting));
  }
  if (const Json settings = murmela::member_or_null(*json, "settings"); settings.is_object()) {
    library.settings = settings;
  }
  return library;
}

std::expected<void, std::string> write_library(const std::string& path,
                                               const std::list<Meeting>& meetings,
                                               const Json& settings,
                                               const std::string& audio_folder) {
  std::vector<const Meeting*> order;
  for (const Meeting& m : meetings) order.push_back(&m);
  std::ranges::sort(order, {}, &Meeting::sequence);
  Json stored_meetings = Json::array();
  for (const Meeting* m : order) {
    stored_meetings.push_back(stored(*m));
    const std::string audio_file = audio_path(audio_folder, m->id);
    if (!m->audio || murmela::is_regular_file(audio_file)) continue;
    ::mkdir(audio_folder.c_str(), 0700);
    auto bytes = wav_bytes(*m->audio);
    if (!bytes) return std::unexpected(bytes.error());
    if (auto written = murmela::write_atomically(audio_file, *bytes, 0600); !written) {
      return std::unexpected(written.error());
    }
  }
  const Json library = {{"meetings", stored_meetings}, {"settings", settings}};
  if (auto written = murmela::write_atomically(path, murmela::to_pretty(library) + "\n", 0600);
      !written) {
    return written;
  }
  remove_deleted_audio(audio_folder, meetings);
  return {};
}

}  // namespace stand_in
