#include "library.hpp"

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <set>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>

#include "common/atomic_file.hpp"
#include "common/descriptor.hpp"
#include "common/environment.hpp"
#include "common/files.hpp"
#include "common/json_writer.hpp"
#include "common/paths.hpp"
#include "common/system_error.hpp"
#include "common/text.hpp"

namespace stand_in {

namespace {

constexpr std::size_t kMaxLibraryMib = 256;
constexpr std::size_t kMaxIdLength = 64;

// Counts what a JSON writer writes, without keeping it.
class CountingOutput final : public murmela::Output {
 public:
  void write(std::string_view text) override {
    bytes += text.size();
    lines += static_cast<std::size_t>(std::ranges::count(text, '\n'));
  }
  std::size_t bytes = 0;
  std::size_t lines = 0;
};

CountingOutput counted(const Json& value, murmela::JsonStyle style) {
  CountingOutput out;
  murmela::write_json(out, value, style);
  return out;
}

using Check = std::expected<void, std::string>;

// An ID is also a command-line word and was once a file name: letters,
// digits, '-' and '_', starting with a letter or digit.
bool safe_id(std::string_view id) {
  const auto plain = [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
  };
  return !id.empty() && id.size() <= kMaxIdLength && plain(id.front()) &&
         std::ranges::all_of(id, [&](char c) { return plain(c) || c == '-' || c == '_'; });
}

// The name of a meeting's audio file, as the stand-in makes it: 32 hex digits.
bool made_audio_name(std::string_view name) {
  return name.size() == 36 && name.ends_with(".wav") &&
         std::ranges::all_of(name.substr(0, 32), [](char c) {
           return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
         });
}

// A text member: absent (nullopt), or a string; null too where `nullable`.
std::expected<std::optional<std::string>, std::string> text_field(const Json& object,
                                                                  const char* key,
                                                                  bool nullable = false) {
  const auto found = object.find(key);
  if (found == object.end() || (nullable && found->is_null())) return std::nullopt;
  if (!found->is_string()) {
    return std::unexpected(fmt::format("`{}` must be a string{}", key, nullable ? " or null" : ""));
  }
  return found->get<std::string>();
}

// The record the app answers with, plus what only the stand-in knows: the
// audio script and the audio file. The figures derived from the rest
// (speaker count, completeness) come along and are ignored when read back.
Json stored(const Meeting& m) {
  Json record = m.to_json();
  // A job cut short by the stand-in's end leaves the meeting as it was.
  if (m.busy()) record["status"] = m.settled_status;
  record["audioScript"] = m.audio_script;
  // Audio that could not be read at the start is named still: the file is
  // the meeting's, and it has it again once the file can be read.
  record["audio"] = m.has_kept_audio();
  if (m.has_kept_audio()) record["audioFile"] = m.audio_file;
  record["recognitionWarnings"] = m.recognition_warnings;
  return record;
}

// The end states a kept meeting can be in; a job never survives a restart.
bool end_status(std::string_view status) {
  return status == "ready" || status == "failed" || status == "cancelled";
}

Check read_texts(const Json& object, Meeting& m) {
  struct Text {
    const char* key;
    std::string* into;
  };
  for (const Text& text :
       {Text{"id", &m.id}, Text{"title", &m.title}, Text{"createdAt", &m.created_at},
        Text{"source", &m.source}, Text{"transcript", &m.transcript}, Text{"notes", &m.notes},
        Text{"status", &m.settled_status}}) {
    auto value = text_field(object, text.key);
    if (!value) return std::unexpected(value.error());
    if (*value) *text.into = **value;
  }
  struct Optional {
    const char* key;
    std::optional<std::string>* into;
  };
  for (const Optional& text :
       {Optional{"transcriptionModel", &m.transcription_model},
        Optional{"cleanedTranscript", &m.cleaned_transcript}, Optional{"error", &m.error}}) {
    auto value = text_field(object, text.key, true);
    if (!value) return std::unexpected(value.error());
    *text.into = *value;
  }
  return {};
}

Check read_figures(const Json& object, Meeting& m) {
  if (const auto labels = object.find("speakerLabels"); labels != object.end()) {
    if (!labels->is_boolean()) return std::unexpected("`speakerLabels` must be true or false");
    m.speaker_labels = labels->get<bool>();
  }
  if (const auto seconds = object.find("durationSeconds"); seconds != object.end()) {
    const double value = seconds->is_number() ? seconds->get<double>() : -1;
    if (!duration_in_bounds(value)) {
      return std::unexpected(
          fmt::format("`durationSeconds` must be a number from 0 to {}", kMaxDurationSeconds));
    }
    m.duration_seconds = value;
  }
  if (const auto script = object.find("audioScript"); script != object.end()) {
    if (!script->is_array() || !std::ranges::all_of(*script, &Json::is_string)) {
      return std::unexpected("`audioScript` must be an array of strings");
    }
    for (const Json& line : *script) m.audio_script.push_back(line.get<std::string>());
  }
  if (const auto warnings = object.find("recognitionWarnings"); warnings != object.end()) {
    if (!warnings->is_array() || !std::ranges::all_of(*warnings, &Json::is_string)) {
      return std::unexpected("`recognitionWarnings` must be an array of strings");
    }
    for (const Json& line : *warnings) m.recognition_warnings.push_back(line.get<std::string>());
  }
  return {};
}

// Where the meeting's audio is kept, when it has any: a name the stand-in
// made, never one built from the ID as it stands. Libraries kept before
// audio files had names of their own named them by the (then always
// stand-in made) ID.
std::expected<std::optional<std::string>, std::string> audio_file_of(const Json& object,
                                                                     const Meeting& m) {
  const auto has_audio = object.find("audio");
  if (has_audio == object.end()) return std::nullopt;
  if (!has_audio->is_boolean()) return std::unexpected("`audio` must be true or false");
  if (!has_audio->get<bool>()) return std::nullopt;
  auto name = text_field(object, "audioFile");
  if (!name) return std::unexpected(name.error());
  const std::string file = name->value_or(m.id + ".wav");
  if (!made_audio_name(file)) {
    return std::unexpected(
        fmt::format("`audioFile` must be a name the stand-in made (32 hex digits and .wav), "
                    "not \"{}\"",
                    file));
  }
  return file;
}

std::expected<std::shared_ptr<const Audio>, std::string> kept_audio(const std::string& path) {
  const murmela::FileDescriptor fd(
      ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  struct stat info {};
  if (!fd.valid() || ::fstat(fd.get(), &info) != 0)
    return std::unexpected(murmela::system_error_text(errno));
  if (!S_ISREG(info.st_mode)) return std::unexpected("it is not a regular file");
  auto audio = read_audio(fd.get());
  if (!audio) return std::unexpected(audio.error().reason);
  return std::make_shared<const Audio>(*std::move(audio));
}

// A kept file that still opens but holds less than its meeting lasted (cut
// by a full disk, or swapped for another) is as good as unreadable: taken as
// the meeting's audio, it would export and transcribe a fragment as the
// whole. What the stand-in writes holds the meeting's length, give or take
// the rounding of a conversion.
bool cut_short(const Audio& audio, double meeting_seconds) {
  return audio.seconds() < meeting_seconds * 0.99 - 0.05;
}

std::expected<Meeting, std::string> meeting_from(const Json& object,
                                                 const std::string& audio_folder) {
  if (!object.is_object()) return std::unexpected("it is not a JSON object");
  Meeting m;
  m.title = "Meeting";
  m.source = "import";
  if (auto texts = read_texts(object, m); !texts) return std::unexpected(texts.error());
  if (auto figures = read_figures(object, m); !figures) return std::unexpected(figures.error());
  if (m.id.empty() && !object.contains("id")) m.id = new_meeting_id();
  if (!safe_id(m.id)) {
    return std::unexpected(fmt::format(
        "its ID \"{}\" is not 1 to {} letters, digits, '-' or '_' (starting with a letter or "
        "digit)",
        m.id, kMaxIdLength));
  }
  if (!end_status(m.settled_status)) {
    return std::unexpected(
        fmt::format("status \"{}\" is not one a meeting rests in (ready, failed or cancelled)",
                    m.settled_status));
  }
  if (m.created_at.empty()) m.created_at = iso_time_now();
  if (m.audio_script.empty()) m.audio_script = murmela::split_lines(m.transcript);
  auto file = audio_file_of(object, m);
  if (!file) return std::unexpected(file.error());
  if (*file) {
    // Audio that cannot be read leaves this meeting without it for this
    // run, and says so; it never keeps the app, and every other meeting,
    // from starting. The meeting still names its file.
    m.audio_file = **file;
    auto audio = kept_audio(murmela::join_path(audio_folder, **file));
    if (audio && cut_short(**audio, m.duration_seconds)) {
      m.unread_audio = fmt::format("it holds {:.2f} s of the meeting's {:.2f} s",
                                   (*audio)->seconds(), m.duration_seconds);
    } else if (audio) {
      m.audio = *std::move(audio);
    } else {
      m.unread_audio = audio.error();
    }
    // Earlier runs kept the warning of an unread file with the meeting.
    const std::string unread = fmt::format("The audio file {} could not be read (", **file);
    std::erase_if(m.recognition_warnings,
                  [&](const std::string& warning) { return warning.starts_with(unread); });
  }
  return m;
}

// Settings as the app has them: every one the app knows, of its type; a
// fixture may give a few and take the app's own for the rest.
std::expected<Json, std::string> settings_from(const Json& given, const Json& defaults) {
  if (!given.is_object()) return std::unexpected("`settings` must be an object");
  Json settings = defaults;
  for (const auto& [key, value] : given.items()) {
    const auto known = defaults.find(key);
    if (known == defaults.end()) return std::unexpected(fmt::format("unknown setting `{}`", key));
    const bool same_type =
        known->type() == value.type() || (known->is_number() && value.is_number());
    if (!same_type) {
      return std::unexpected(fmt::format("setting `{}` must be a {}", key, known->type_name()));
    }
    settings[key] = value;
  }
  return settings;
}

std::expected<std::string, std::string> library_text(const std::string& path) {
  const murmela::FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  struct stat info {};
  if (!fd.valid() || ::fstat(fd.get(), &info) != 0) {
    return std::unexpected(
        fmt::format("cannot read {}: {}", path, murmela::system_error_text(errno)));
  }
  if (!S_ISREG(info.st_mode)) return std::unexpected(fmt::format("{} is not a regular file", path));
  if (static_cast<std::uintmax_t>(info.st_size) > max_library_bytes()) {
    return std::unexpected(
        fmt::format("{} is larger than {} MiB", path, max_library_bytes() >> 20));
  }
  auto text = murmela::read_stream(fd.get());
  if (!text) {
    return std::unexpected(
        fmt::format("cannot read {}: {}", path, murmela::system_error_text(text.error())));
  }
  return *std::move(text);
}

// Removes the stand-in's own audio files that the library just written no
// longer names (their meetings were deleted). Nothing else in the folder is
// looked at.
void remove_deleted_audio(const std::string& folder, const LibrarySnapshot& snapshot,
                          OwnAudio& own) {
  std::set<std::string> named(snapshot.unread_audio.begin(), snapshot.unread_audio.end());
  for (const auto& kept : snapshot.audio) named.insert(kept.file);
  for (auto file = own.begin(); file != own.end();) {
    if (named.contains(*file)) {
      ++file;
      continue;
    }
    // unlink() takes the entry itself: a link put in its place goes, not
    // what it leads to.
    ::unlink(murmela::join_path(folder, *file).c_str());
    file = own.erase(file);
  }
}

bool regular_file_here(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

std::size_t max_library_bytes() {
  static const std::size_t most = [] {
    const auto value = murmela::env_value("MURMELA_STAND_IN_LIBRARY_MIB");
    std::size_t mib = kMaxLibraryMib;
    if (value) {
      char* end = nullptr;
      const long given = std::strtol(value->c_str(), &end, 10);
      if (end != value->c_str() && *end == '\0' && given >= 1 &&
          given <= static_cast<long>(kMaxLibraryMib)) {
        mib = static_cast<std::size_t>(given);
      }
    }
    return mib << 20;
  }();
  return most;
}

bool duration_in_bounds(double seconds) { return seconds >= 0 && seconds <= kMaxDurationSeconds; }

std::size_t record_bytes(const Meeting& meeting) {
  return counted(meeting.to_json(), murmela::kCompactJson).bytes;
}

std::size_t listed_bytes(const Meeting& meeting) {
  return counted(meeting.list_json(), murmela::kCompactJson).bytes + 1;
}

// Counted speaker by speaker, so that a transcript of a million speakers
// is weighed without being made into a million JSON objects first:
// {"id":…,"speakers":[{"lines":N,"name":…},…]}
std::size_t speakers_bytes(const Meeting& meeting) {
  const auto quoted = [](const std::string& text) {
    return counted(Json(text), murmela::kCompactJson).bytes;
  };
  const auto speakers = meeting.speakers();
  std::size_t bytes = std::string_view(R"({"id":,"speakers":[]})").size() + quoted(meeting.id);
  for (const auto& [name, lines] : speakers) {
    bytes += std::string_view(R"({"lines":,"name":},)").size() + quoted(name) +
             fmt::formatted_size("{}", lines);
  }
  return speakers.empty() ? bytes : bytes - 1;  // no comma after the last
}

// Its pretty form, each line indented twice more inside the library's
// array, and the comma and line feed after it.
std::size_t stored_bytes(const Meeting& meeting) {
  const CountingOutput out = counted(stored(meeting), murmela::kPrettyJson);
  return out.bytes + 4 * (out.lines + 1) + 2;
}

// Its pretty form, indented once more inside the library (the larger of the
// two forms).
std::size_t settings_bytes(const Json& settings) {
  const CountingOutput out = counted(settings, murmela::kPrettyJson);
  return out.bytes + 2 * (out.lines + 1);
}

std::expected<Library, std::string> read_library(const std::string& path,
                                                 const std::string& audio_folder,
                                                 const Json& default_settings) {
  auto text = library_text(path);
  if (!text) return std::unexpected(text.error());
  auto json = murmela::parse_json(*text);
  if (!json) return std::unexpected(fmt::format("{} is not JSON: {}", path, json.error()));
  const Json meetings = murmela::member_or_null(*json, "meetings");
  if (!meetings.is_array()) return std::unexpected(path + " has no array `meetings`");
  Library library;
  std::set<std::string> ids;
  for (std::size_t i = 0; i < meetings.size(); ++i) {
    auto meeting = meeting_from(meetings[i], audio_folder);
    if (!meeting) {
      return std::unexpected(fmt::format("{}: meeting {}: {}", path, i + 1, meeting.error()));
    }
    if (!ids.insert(meeting->id).second) {
      return std::unexpected(fmt::format("{}: meeting {}: the ID {} is taken by an earlier one",
                                         path, i + 1, meeting->id));
    }
    library.meetings.push_back(*std::move(meeting));
  }
  library.settings = default_settings;
  if (json->contains("settings")) {
    auto settings = settings_from(json->at("settings"), default_settings);
    if (!settings) return std::unexpected(fmt::format("{}: {}", path, settings.error()));
    library.settings = *std::move(settings);
  }
  return library;
}

std::expected<bool, std::string> kept_library_present(const std::string& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) {
    if (errno == ENOENT) return false;
    return std::unexpected(
        fmt::format("cannot read {}: {}", path, murmela::system_error_text(errno)));
  }
  if (S_ISREG(info.st_mode)) return true;
  if (S_ISLNK(info.st_mode)) {
    return std::unexpected(fmt::format(
        "{} is a symbolic link; the library is kept in a file of its own, never read or written "
        "through a link. Put the library file itself there (or remove the link to start with "
        "the demo meetings).",
        path));
  }
  return std::unexpected(
      fmt::format("{} is not a regular file; move it away to start with the demo meetings.", path));
}

OwnAudio audio_files_of(const std::vector<Meeting>& meetings) {
  OwnAudio own;
  for (const Meeting& m : meetings) {
    if (m.audio && !m.audio_file.empty()) own.insert(m.audio_file);
  }
  return own;
}

void remove_leftovers(const std::string& path, const std::string& audio_folder) {
  murmela::remove_stale_temporaries(path, murmela::AtLink::Replace);
  std::error_code error;
  constexpr std::string_view kInfix = ".murmela-tmp-";
  for (const auto& entry : std::filesystem::directory_iterator(audio_folder, error)) {
    const std::string name = entry.path().filename().string();
    const auto infix = name.find(kInfix);
    if (!name.starts_with('.') || infix == std::string::npos) continue;
    const std::string target = name.substr(1, infix - 1);
    if (made_audio_name(target)) {
      murmela::remove_stale_temporaries(murmela::join_path(audio_folder, target));
    }
  }
}

namespace {

// Pretty JSON text placed `depth` levels in: each line after the first
// indented to match. A line feed in JSON text only ever separates members,
// since strings carry theirs escaped.
std::string indented(std::string text, std::size_t depth) {
  const std::string line_start = "\n" + std::string(2 * depth, ' ');
  std::string out;
  out.reserve(text.size() + text.size() / 16);
  std::size_t from = 0;
  for (std::size_t at; (at = text.find('\n', from)) != std::string::npos; from = at + 1) {
    out.append(text, from, at - from);
    out += line_start;
  }
  out.append(text, from);
  return out;
}

// A meeting as it sits in the file: two levels in, in the `meetings` array.
constexpr std::size_t kMeetingDepth = 2;

std::shared_ptr<const std::string> stored_text(const Meeting& m) {
  return std::make_shared<const std::string>(
      indented(murmela::to_pretty(stored(m)), kMeetingDepth));
}

}  // namespace

LibrarySnapshot snapshot_library(std::list<Meeting>& meetings, const Json& settings) {
  std::vector<Meeting*> order;
  for (Meeting& m : meetings) order.push_back(&m);
  std::ranges::sort(order, {}, &Meeting::sequence);
  LibrarySnapshot snapshot;
  for (Meeting* m : order) {
    if (!m->stored_text) m->stored_text = stored_text(*m);
    // Every change clears the meeting's text; one that did not would keep
    // the meeting as it was. Debug builds (the tests) check each time.
    assert(*m->stored_text == *stored_text(*m));
    snapshot.meetings.push_back(m->stored_text);
    if (m->audio) snapshot.audio.push_back({m->audio_file, m->audio});
    if (m->unread_audio) snapshot.unread_audio.push_back(m->audio_file);
  }
  snapshot.settings = indented(murmela::to_pretty(settings), 1);
  return snapshot;
}

std::string library_file_text(const LibrarySnapshot& snapshot) {
  std::size_t size = snapshot.settings.size() + 64;
  for (const auto& text : snapshot.meetings) size += text->size() + 8;
  std::string out;
  out.reserve(size);
  out += "{\n  \"meetings\": [";
  for (std::size_t i = 0; i < snapshot.meetings.size(); ++i) {
    out += i == 0 ? "\n    " : ",\n    ";
    out += *snapshot.meetings[i];
  }
  out += snapshot.meetings.empty() ? "]" : "\n  ]";
  out += ",\n  \"settings\": ";
  out += snapshot.settings;
  out += "\n}\n";
  return out;
}

std::expected<void, std::string> write_library(const std::string& path,
                                               const LibrarySnapshot& snapshot,
                                               const std::string& audio_folder, OwnAudio& own) {
  // The audio first: a library file never names audio that is not there.
  for (const auto& [file, audio] : snapshot.audio) {
    const std::string audio_file = murmela::join_path(audio_folder, file);
    own.insert(file);  // a meeting's audio, whether written now or before
    if (regular_file_here(audio_file)) continue;
    ::mkdir(audio_folder.c_str(), 0700);
    auto bytes = wav_bytes(*audio);
    if (!bytes) return std::unexpected(bytes.error());
    if (auto written = murmela::replace_private_file(audio_file, *bytes); !written) {
      return std::unexpected(written.error());
    }
  }
  const std::string text = library_file_text(snapshot);
  // Changes are refused before they would pass this; should one get by, the
  // file the loader would refuse is never written.
  if (text.size() > max_library_bytes()) {
    return std::unexpected(fmt::format(
        "Cannot write {}: the library would take {:.1f} MiB, more than the {} MiB the stand-in "
        "loads; the file is left as it was",
        path, static_cast<double>(text.size()) / (1 << 20), max_library_bytes() >> 20));
  }
  if (auto written = murmela::replace_private_file(path, text); !written) return written;
  remove_deleted_audio(audio_folder, snapshot, own);
  return {};
}

}  // namespace stand_in
