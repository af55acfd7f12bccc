#include <algorithm>
#include <thread>

#include <sys/stat.h>

#include "app.hpp"
#include "common/atomic_file.hpp"
#include "common/descriptor.hpp"
#include "common/files.hpp"
#include "common/paths.hpp"
#include "common/system_error.hpp"
#include "common/text.hpp"
#include "exports.hpp"
#include "meetings.hpp"
#include "open_file.hpp"
#include "recognizer.hpp"
#include "shutdown.hpp"

namespace stand_in {

namespace {

// What a speaker-labelled line looks like without labels.
std::string without_labels(const std::string& transcript) {
  std::vector<std::string> lines;
  for (const auto& line : murmela::split_lines(transcript)) {
    const auto colon = line.find(": ");
    lines.push_back(colon == std::string::npos ? line : line.substr(colon + 2));
  }
  return text_of_lines(lines);
}

// The recordings one after the other, each copied once, in the first one's
// format (the others converted to it); none when a part has no real audio,
// since silence or a tone in its place would be made up.
std::expected<std::shared_ptr<const Audio>, std::string> joined_audio(
    const std::vector<std::shared_ptr<const Audio>>& parts) {
  if (std::ranges::any_of(parts, [](const auto& part) { return !part; })) return nullptr;
  auto joined = std::make_shared<Audio>();
  joined->sample_rate = parts.front()->sample_rate;
  joined->channels = parts.front()->channels;
  std::size_t total = 0;
  for (const auto& part : parts) total += converted_size(*part, *joined);
  joined->samples.reserve(total);
  for (const auto& part : parts) {
    if (auto appended = append_converted(*part, *joined); !appended) {
      return std::unexpected(appended.error());
    }
  }
  return joined;
}

std::string cleaned(const std::string& transcript) {
  std::string out;
  std::size_t start = 0;
  while (start < transcript.size()) {
    std::size_t end = transcript.find_first_of(" \n", start);
    if (end == std::string::npos) end = transcript.size();
    std::string word = transcript.substr(start, end - start);
    const bool filler = word == "um," || word == "uh," || word == "um" || word == "uh";
    if (!filler) out += word;
    if (end < transcript.size() && !(filler && transcript[end] == ' ')) out += transcript[end];
    start = end + 1;
  }
  return out;
}

// A join of more parts than this is no meeting anyone recorded (the IDs
// alone would be 35 KB); it is refused before any part is looked up.
constexpr std::size_t kMaxJoinParts = 1000;

double mib(std::size_t bytes) { return static_cast<double>(bytes) / (1 << 20); }

// The bytes of lines as one text.
std::size_t text_size(const std::vector<std::string>& lines) {
  std::size_t size = 0;
  for (const auto& line : lines) size += line.size() + 1;
  return size;
}

std::string import_refusal(const std::string& path, const AudioError& error) {
  if (error.too_long) return fmt::format("Cannot import {}: {}.", path, error.reason);
  return fmt::format("{} is not an audio file Murmela can read: {}", path, error.reason);
}

}  // namespace

Answer App::get_meeting(const Args& args) {
  auto meeting = meetings_.find(args);
  if (!meeting) return refuse(meeting.error());
  return (*meeting)->to_json();
}

Answer App::meeting_speakers(const Args& args) {
  auto meeting = meetings_.find(args);
  if (!meeting) return refuse(meeting.error());
  // Changes are refused before they would pass this; a library kept before
  // may still hold such a meeting.
  if (const std::size_t bytes = speakers_bytes(**meeting); bytes > kMaxRecordBytes) {
    return refuse(too_large_speakers(bytes));
  }
  return speakers_json(**meeting);
}

bool App::advance_jobs() { return meetings_.advance_jobs(Clock::now()); }

// Every running job moves on by one status.
Answer App::step_jobs() { return Json{{"stepped", meetings_.step_jobs()}}; }

Answer App::replace_meeting(Meeting& meeting, Meeting changed) {
  auto size = fits(changed, &meeting);
  if (!size) return refuse(size.error());
  changed.take_sizes(*size);
  meeting = std::move(changed);
  return meeting.to_json();
}

std::expected<EntrySizes, std::string> App::fits(const Meeting& changed,
                                                 const Meeting* replacing) const {
  return meetings_.fits(changed, replacing, settings_bytes_);
}

Answer App::start_meeting(const Args& args) {
  auto title = args.optional_string("title");
  auto source = args.optional_string("source");
  if (!title) return refuse(title.error());
  if (!source) return refuse(source.error());
  const std::string chosen = source->value_or("both");
  if (chosen != "both" && chosen != "microphone" && chosen != "system") {
    return refuse(fmt::format("Unknown source `{}`: use both, microphone or system.", chosen));
  }
  if (meetings_.recording()) return refuse("A meeting is already being recorded.");
  Meeting meeting;
  meeting.id = new_meeting_id();
  meeting.title = title->value_or("").empty() ? "New meeting" : **title;
  meeting.created_at = iso_time_now();
  meeting.source = chosen;
  meeting.audio_script = {"You: This recording was made by the stand-in app.",
                          "Other speakers: It recognises no speech, so this text is made up."};
  meeting.stages.push_back({"recording", Clock::time_point::max()});
  meeting.recording_started = Clock::now();
  auto size = fits(meeting, nullptr);
  if (!size) return refuse(size.error());
  meeting.take_sizes(*size);
  return meetings_.add(std::move(meeting)).to_json();
}

Answer App::stop_meeting() {
  for (auto& m : meetings_.all()) {
    if (m.status() != "recording") continue;
    m.changed();
    m.duration_seconds = static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - m.recording_started)
            .count());
    const std::string model = settings_["asrModel"].get<std::string>();
    m.start_job({"finalizing", "transcribing", "generatingTitle"}, job_step_,
                [model](Meeting& done) {
                  done.transcript = text_of_lines(done.audio_script);
                  done.transcription_model = model;
                });
    return m.to_json();
  }
  return refuse("No meeting is being recorded.");
}

Answer App::import_media(const Args& args, Lock& lock) {
  auto path = args.path("path");
  if (!path) return refuse(path.error());
  Meeting meeting;
  {
    // Reading and decoding may take long: other requests go on meanwhile.
    Unlocked unlocked(*this, lock, "import_media");
    auto file = open_to_read(*path);
    if (!file) {
      switch (file.error().kind) {
        case OpenFailure::Kind::Missing:
          return refuse(fmt::format("Cannot import {}: no such file.", *path));
        case OpenFailure::Kind::NotRegular:
          return refuse(fmt::format("{} is not a regular file", *path));
        case OpenFailure::Kind::System:
          return refuse(fmt::format("Cannot import {}: {}", *path,
                                    murmela::system_error_text(file.error().error)));
      }
    }
    auto audio = read_audio(file->get());
    if (!audio) return refuse(import_refusal(*path, audio.error()));
    meeting.duration_seconds = audio->seconds();
    meeting.audio = std::make_shared<const Audio>(*std::move(audio));
  }
  meeting.id = new_meeting_id();
  meeting.title = std::string(murmela::file_name(*path).value_or("Imported media"));
  meeting.created_at = iso_time_now();
  meeting.source = "import";
  meeting.audio_file = new_meeting_id() + ".wav";
  // Replaced by what is heard where the speech model is installed.
  meeting.audio_script = {
      "Speaker 1: The speech model is not installed, so the stand-in app made this text up.",
      "Speaker 2: Install pocketsphinx-en-us to have imported audio recognised."};
  auto size = fits(meeting, nullptr);
  if (!size) return refuse(size.error());
  meeting.take_sizes(*size);
  meeting.start_job({"importing"}, job_step_, nullptr);
  transcribe(meeting, model_in_settings(), true);
  return meetings_.add(std::move(meeting)).to_json();
}

// Recognises the meeting's real audio on a thread of its own; the result is
// handed back under the app's mutex, where the meeting's stage waits for it.
std::shared_ptr<BackgroundJob> App::start_recognition(std::shared_ptr<const Audio> audio) {
  auto work = std::make_shared<BackgroundJob>();
  // Joined before the app ends; asked to stop through the job's cancel.
  background_threads().start([this, audio = std::move(audio), work] {
    std::expected<std::string, std::string> transcript = std::unexpected(std::string());
    try {
      auto segments = recognize(*audio, work->cancelled);
      if (segments) {
        transcript = transcript_of(*segments, audio->channels);
      } else {
        transcript = std::unexpected(segments.error());
      }
    } catch (const std::exception& error) {
      transcript = std::unexpected(fmt::format("The recognition failed: {}", error.what()));
    }
    // Cut short by the app's end: the meeting is kept as it was.
    if (quit_is_requested()) return;
    // The result is kept as it lands, not at the next change.
    try {
      std::optional<LibrarySnapshot> snapshot;
      {
        std::lock_guard lock(mutex_);
        work->transcript = std::move(transcript);
        work->finished = true;
        if (advance_jobs()) snapshot = snapshot_locked();
      }
      if (snapshot) (void)write_unlocked(*snapshot);
    } catch (const std::exception&) {
      // Kept at the next change, whose client then hears of any failure.
    }
  }, [work] { work->cancelled = true; });
  return work;
}

// Queues the transcription job: real recognition of real audio where the
// model is installed, else the made-up text of the audio script.
App::ModelChoice App::model_in_settings() const {
  std::string id = settings_["asrModel"].get<std::string>();
  const bool chosen = id != demo_settings()["asrModel"].get<std::string>();
  return {std::move(id), chosen};
}

void App::transcribe(Meeting& meeting, const ModelChoice& model, bool labels,
                     std::optional<std::string> failure) {
  auto finish = [labels](Meeting& done, std::string transcript, std::string used) {
    done.audio_script = murmela::split_lines(transcript);
    done.transcript = labels ? transcript : without_labels(transcript);
    done.speaker_labels = labels;
    done.transcription_model = std::move(used);
    done.cleaned_transcript.reset();
  };
  if (!meeting.audio || !recognizer_installed() || failure) {
    meeting.queue_job(
        {"transcribing"}, job_step_,
        [finish, model = model.id](Meeting& done) {
          finish(done, text_of_lines(done.audio_script), model);
        },
        std::move(failure));
    return;
  }
  const auto language = settings_.find("language");
  auto unmet = unmet_choices(
      model.chosen ? std::optional(model.id) : std::nullopt,
      language != settings_.end() && language->is_string() ? language->get<std::string>() : "auto");
  auto work = start_recognition(meeting.audio);
  meeting.queue_job({}, job_step_, [finish, work, unmet = std::move(unmet)](Meeting& done) {
    if (!work->transcript) return;
    finish(done, *work->transcript, kRecognizerModelId);
    // What a recognition could not honour is said, not silently dropped.
    done.recognition_warnings = unmet;
  });
  meeting.wait_for("transcribing", std::move(work));
}

Answer App::join_meetings(const Args& args, Lock& lock) {
  const Json* ids = args.find("ids");
  if (!ids || !ids->is_array() || ids->size() < 2)
    return refuse("Argument `ids` must list two or more meetings.");
  if (ids->size() > kMaxJoinParts) {
    return refuse(
        fmt::format("A join takes at most {} meetings, not {}.", kMaxJoinParts, ids->size()));
  }
  auto title = args.optional_string("title");
  if (!title) return refuse(title.error());
  // What the joined meeting would be is weighed before it is made: its
  // length, its text, and its audio as the loader takes them.
  std::vector<const Meeting*> found;
  double seconds = 0;
  double audio_seconds = 0;
  std::size_t script_bytes = 0;
  for (const auto& id : *ids) {
    const Json one = {{"id", id}};
    auto part = meetings_.find_idle(Args(one));
    if (!part) return refuse(part.error());
    found.push_back(*part);
    seconds += (*part)->duration_seconds;
    script_bytes += text_size((*part)->audio_script);
    if ((*part)->audio) audio_seconds += (*part)->audio->seconds();
  }
  if (!duration_in_bounds(seconds)) {
    return refuse(
        fmt::format("The joined meeting would last {} s, more than the {} s a meeting "
                    "may last.",
                    seconds, kMaxDurationSeconds));
  }
  if (script_bytes > kMaxRecordBytes) return refuse(too_large_record(script_bytes));
  const bool all_audio =
      std::ranges::all_of(found, [](const Meeting* m) { return m->audio != nullptr; });
  if (all_audio && audio_seconds > kMaxAudioHours * 3600.0) {
    return refuse(
        fmt::format("The joined recording would last {:.1f} hours, longer than the {} "
                    "hours the stand-in takes.",
                    audio_seconds / 3600, kMaxAudioHours));
  }
  if (all_audio) {
    // In the first part's format a short part of many channels at a high
    // rate makes a long one at a low rate many times larger: the samples
    // are counted before any is made.
    std::vector<const Audio*> audio;
    for (const Meeting* part : found) audio.push_back(part->audio.get());
    if (const std::size_t samples = joined_size(audio); samples > kMaxAudioSamples) {
      const Audio& format = *audio.front();
      return refuse(fmt::format(
          "The joined recording would take {:.1f} MiB in the first part's format ({} Hz, {} "
          "channels), more than the {} MiB of audio the stand-in takes.",
          mib(samples * sizeof(std::int16_t)), format.sample_rate, format.channels,
          (kMaxAudioSamples * sizeof(std::int16_t)) >> 20));
    }
  }
  Meeting joined;
  std::vector<std::shared_ptr<const Audio>> parts;
  std::optional<std::string> silent_part;
  std::optional<std::string> unread_part;
  for (const Meeting* part : found) {
    joined.duration_seconds += part->duration_seconds;
    for (const auto& line : part->audio_script) joined.audio_script.push_back(line);
    parts.push_back(part->audio);
    if (!part->audio && !silent_part) silent_part = part->title;
    if (part->unread_audio && !unread_part) unread_part = part->title;
  }
  {
    // The parts' audio never changes once made: it is joined outside the lock.
    Unlocked unlocked(*this, lock, "join_meetings");
    auto audio = joined_audio(parts);
    if (audio) {
      joined.audio = *std::move(audio);
    } else {
      joined.recognition_warnings.push_back(
          fmt::format("The joined meeting has no audio: the parts' audio could not be joined "
                      "({}).",
                      audio.error()));
    }
  }
  if (!joined.audio && unread_part) {
    joined.recognition_warnings.push_back(fmt::format(
        "The joined meeting has no audio: the audio of \"{}\" could not be read when Murmela "
        "started.",
        *unread_part));
  } else if (!joined.audio && silent_part) {
    joined.recognition_warnings.push_back(fmt::format(
        "The joined meeting has no audio: \"{}\" has no recorded audio to join.", *silent_part));
  }
  joined.id = new_meeting_id();
  if (joined.audio) joined.audio_file = new_meeting_id() + ".wav";
  joined.title = title->value_or("Joined meeting");
  joined.created_at = iso_time_now();
  joined.source = "join";
  auto size = fits(joined, nullptr);
  if (!size) return refuse(size.error());
  joined.take_sizes(*size);
  joined.start_job({"finalizing"}, job_step_, nullptr);
  return meetings_.add(std::move(joined)).to_json();
}

Answer App::transcribe_meeting(const Args& args, bool detach, Lock& lock) {
  // A meeting still being imported or joined is transcribed right after that.
  auto meeting = meetings_.find_to_change(args);
  if (!meeting) return refuse(meeting.error());
  if ((*meeting)->status() == "recording")
    return refuse("Stop the recording before transcribing it.");
  auto model = args.optional_string("model");
  if (!model) return refuse(model.error());
  ModelChoice chosen{model->value_or(settings_["meetingAsrModel"].get<std::string>()), true};
  if (chosen.id.empty()) chosen = model_in_settings();
  if (!std::ranges::any_of(
          models_, [&](const Json& m) { return m["id"] == chosen.id && m["kind"] == "speech"; })) {
    return refuse(fmt::format("Unknown speech model `{}`.", chosen.id));
  }
  std::optional<std::string> failure;
  if (!model_installed(chosen.id))
    failure = fmt::format("The model {} is not downloaded.", chosen.id);
  const bool labels = settings_["meetingSpeakerLabels"] == true;
  // A transcript made up in place of real audio that could not be read
  // would take the place of the meeting's own.
  if ((*meeting)->unread_audio) return refuse((*meeting)->unread_audio_error());
  if (!failure) {
    // The transcript it will have: its audio script's text (a recognition's
    // is measured as it lands).
    Meeting transcribed = **meeting;
    transcribed.transcript = text_of_lines(transcribed.audio_script);
    if (!labels) transcribed.transcript = without_labels(transcribed.transcript);
    transcribed.cleaned_transcript.reset();
    auto size = fits(transcribed, *meeting);
    if (!size) return refuse(size.error());
    (*meeting)->reserve_sizes(*size);
  }
  transcribe(**meeting, chosen, labels, std::move(failure));

  if (detach) return (*meeting)->to_json();
  return await_job((*meeting)->id, lock, "transcribe_meeting");
}

// Waits without holding the lock, so that other connections (a `meetings
// wait` poll, a cancel) are served meanwhile.
Answer App::await_job(std::string id, Lock& lock, const std::string& what) {
  for (;;) {
    {
      Unlocked unlocked(*this, lock, what);
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (quit_requested_ || quit_is_requested()) return refuse("Murmela quit before the job ended.");
    advance_jobs();
    const Meeting* current = meetings_.with_id(id);
    if (!current) return refuse("The meeting was deleted.");
    if (current->busy()) continue;
    if (current->status() == "failed") return refuse(current->error.value_or("The job failed."));
    if (current->status() == "cancelled") return refuse("The job was cancelled.");
    return current->to_json();
  }
}

Answer App::cancel_meeting(const Args& args) {
  auto meeting = meetings_.find_to_change(args);
  if (!meeting) return refuse(meeting.error());
  if (!(*meeting)->busy() || (*meeting)->status() == "recording") {
    return refuse("Nothing to cancel: no job is running on this meeting.");
  }
  (*meeting)->cancel_job();
  return Json{{"id", (*meeting)->id}, {"cancelled", true}};
}

Answer App::save_meeting(const Args& args) {
  auto meeting = meetings_.find_idle(args);
  if (!meeting) return refuse(meeting.error());
  auto title = args.string("title");
  auto transcript = args.optional_string("transcript");
  auto notes = args.optional_string("notes");
  if (!title) return refuse(title.error());
  if (!transcript) return refuse(transcript.error());
  if (!notes) return refuse(notes.error());
  Meeting changed = **meeting;
  if (transcript->value_or("") != changed.transcript) changed.cleaned_transcript.reset();
  changed.title = *title;
  changed.transcript = transcript->value_or("");
  changed.notes = notes->value_or("");
  return replace_meeting(**meeting, std::move(changed));
}

Answer App::rename_meeting_speaker(const Args& args) {
  auto meeting = meetings_.find_idle(args);
  if (!meeting) return refuse(meeting.error());
  auto from = args.string("from");
  auto to = args.string("to");
  if (!from) return refuse(from.error());
  if (!to) return refuse(to.error());
  if (to->empty() || to->find_first_of(":\n") != std::string::npos) {
    return refuse("A speaker name must not be empty or hold a colon or line break.");
  }
  Meeting changed = **meeting;
  const std::string prefix = *from + ": ";
  auto lines = murmela::split_lines(changed.transcript);
  const auto named = [&](const std::vector<std::string>& texts) {
    return static_cast<std::size_t>(
        std::ranges::count_if(texts, [&](const auto& line) { return line.starts_with(prefix); }));
  };
  const std::size_t renamed = named(lines);
  if (renamed == 0) return refuse(fmt::format("No speaker named \"{}\" in this meeting.", *from));
  // A long name on many lines could make the texts many times larger: what
  // they would take is known before they are made.
  if (to->size() > from->size()) {
    const std::size_t longer = to->size() - from->size();
    const std::size_t texts = changed.transcript.size() + text_size(changed.audio_script) +
                              (renamed + named(changed.audio_script)) * longer;
    if (texts > kMaxRecordBytes) return refuse(too_large_record(texts));
  }
  auto rename_in = [&](std::vector<std::string>& texts) {
    for (auto& line : texts) {
      if (line.starts_with(prefix)) line = *to + ": " + line.substr(prefix.size());
    }
  };
  rename_in(lines);
  changed.transcript = text_of_lines(lines);
  rename_in(changed.audio_script);
  return replace_meeting(**meeting, std::move(changed));
}

Answer App::set_meeting_speaker_labels(const Args& args) {
  auto meeting = meetings_.find_idle(args);
  if (!meeting) return refuse(meeting.error());
  auto enabled = args.boolean("enabled");
  auto confirmed = args.boolean("confirmed", false);
  if (!enabled) return refuse(enabled.error());
  if (!confirmed) return refuse(confirmed.error());
  Meeting changed = **meeting;
  if (!*enabled && changed.speaker_labels && !*confirmed) {
    return refuse(
        "Turning labels off drops the speaker names from the transcript. Confirm to go ahead.");
  }
  changed.speaker_labels = *enabled;
  if (!changed.transcript.empty()) {
    changed.transcript =
        *enabled ? text_of_lines(changed.audio_script) : without_labels(changed.transcript);
  }
  return replace_meeting(**meeting, std::move(changed));
}

Answer App::clean_meeting(const Args& args) {
  auto meeting = meetings_.find_idle(args);
  if (!meeting) return refuse(meeting.error());
  if ((*meeting)->transcript.empty())
    return refuse("The meeting has no transcript yet; transcribe it first.");
  Meeting changed = **meeting;
  changed.cleaned_transcript = cleaned(changed.transcript);
  return replace_meeting(**meeting, std::move(changed));
}

Answer App::generate_notes(const Args& args, bool detach, Lock& lock) {
  auto meeting = meetings_.find_idle(args);
  if (!meeting) return refuse(meeting.error());
  auto preset = args.string("preset");
  auto instructions = args.optional_string("instructions");
  if (!preset) return refuse(preset.error());
  if (!instructions) return refuse(instructions.error());
  Meeting& m = **meeting;
  if (m.transcript.empty())
    return refuse("The meeting has no transcript yet; transcribe it first.");

  std::string notes;
  if (*preset == "summary" || *preset == "brief") {
    notes = "Summary (stand-in: the first lines of the transcript)\n\n";
    const auto lines = murmela::split_lines(m.transcript);
    const std::size_t wanted = std::min<std::size_t>(*preset == "brief" ? 1 : 3, lines.size());
    for (std::size_t i = 0; i < wanted; ++i) notes += "- " + lines[i] + "\n";
  } else if (*preset == "tasks") {
    notes = "Tasks\n\n";
    for (const auto& line : m.audio_script) {
      if (line.find(" will ") != std::string::npos) notes += "- [ ] " + line + "\n";
    }
  } else if (*preset == "speakers") {
    notes = "Speakers\n\n";
    for (const auto& [name, count] : m.speakers())
      notes += fmt::format("- {}: {} lines\n", name, count);
  } else if (*preset == "formattedTranscript") {
    notes = m.transcript;
  } else if (*preset == "custom") {
    if (instructions->value_or("").empty()) return refuse("The custom preset needs instructions.");
    notes = fmt::format("Notes for \"{}\" (the stand-in app runs no AI model)\n", **instructions);
  } else {
    return refuse(fmt::format("Unknown preset `{}`.", *preset));
  }
  // What the notes will take is kept for them until they land.
  Meeting noted = m;
  noted.notes = notes;
  auto size = fits(noted, &m);
  if (!size) return refuse(size.error());
  m.reserve_sizes(*size);
  m.start_job({"processingNotes"}, job_step_,
              [notes = std::move(notes)](Meeting& done) { done.notes = notes; });
  if (detach) return m.to_json();
  return await_job(m.id, lock, "generate_notes");
}

Answer App::delete_meeting(const Args& args) {
  auto meeting = meetings_.find_idle(args);
  if (!meeting) return refuse(meeting.error());
  const std::string id = (*meeting)->id;
  meetings_.remove(id);
  return Json{{"deleted", id}};
}

namespace {

Answer write_export(const std::string& path, const std::string& bytes);

// The meeting's real audio. A demo meeting or a recording made here has
// none: a short tone stands in for it, as its made-up transcript does. A
// joined meeting without audio gets no tone: it is said to have none.
std::expected<std::string, std::string> meeting_wav(const Meeting& meeting) {
  if (meeting.audio) return wav_bytes(*meeting.audio);
  // Real audio that could not be read is never replaced by a tone.
  if (meeting.unread_audio) return std::unexpected(meeting.unread_audio_error());
  if (meeting.source == "join") {
    return std::unexpected("The meeting has no audio: its parts' audio could not be joined.");
  }
  return render_wav(meeting);
}

Answer exported_wav(const std::string& path, const Meeting& meeting) {
  auto bytes = meeting_wav(meeting);
  if (!bytes) return refuse(bytes.error());
  return write_export(path, *bytes);
}

Answer write_export(const std::string& path, const std::string& bytes) {
  if (!path.starts_with('/')) return refuse("Argument `path` must be an absolute path.");
  // Only a regular file is replaced: never a link (nor what it leads to), a
  // FIFO, a device or a folder.
  struct stat info {};
  if (::lstat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
    return refuse(fmt::format("{} is not a regular file", path));
  }
  // A whole new file beside it, renamed over it: an export that fails (a
  // full disk) leaves the earlier file as it was.
  if (auto written = murmela::write_atomically(path, bytes); !written) {
    return refuse(written.error());
  }
  return Json{{"path", path}, {"bytes", bytes.size()}};
}

}  // namespace

Answer App::export_meeting(const Args& args, Lock& lock) {
  auto meeting = meetings_.find_idle(args);
  if (!meeting) return refuse(meeting.error());
  auto path = args.path("path");
  auto format = args.string("format");
  auto version = args.string("transcriptVersion");
  if (!path) return refuse(path.error());
  if (!format) return refuse(format.error());
  if (!version) return refuse(version.error());
  if (*format != "wav" && *format != "markdown" && *format != "text" && *format != "html" &&
      *format != "pdf") {
    return refuse(fmt::format("Unknown export format `{}`.", *format));
  }
  if (*format != "wav" && *version != "recognized" && *version != "cleaned") {
    return refuse(fmt::format("Unknown transcript version `{}`.", *version));
  }
  if (*format != "wav" && *version == "cleaned" && !(*meeting)->cleaned_transcript) {
    return refuse("The meeting has no cleaned transcript; run `meetings clean` first.");
  }
  // The request's own copy: the meeting may change or go while it renders.
  const Meeting m = **meeting;
  Unlocked unlocked(*this, lock, "export_meeting");
  if (*format == "wav") return exported_wav(*path, m);
  auto document =
      render_document(m, *version == "cleaned" ? *m.cleaned_transcript : m.transcript, *format);
  if (!document) return refuse(fmt::format("Cannot render the {}: {}", *format, document.error()));
  return write_export(*path, *document);
}

Answer App::export_meeting_audio(const Args& args, Lock& lock) {
  auto meeting = meetings_.find_idle(args);
  if (!meeting) return refuse(meeting.error());
  auto path = args.path("path");
  if (!path) return refuse(path.error());
  const Meeting m = **meeting;
  Unlocked unlocked(*this, lock, "export_meeting_audio");
  return exported_wav(*path, m);
}

}  // namespace stand_in
