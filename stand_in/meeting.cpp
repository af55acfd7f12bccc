#include "meeting.hpp"

#include <cmath>
#include <ctime>
#include <random>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include <fmt/format.h>

#include "common/text.hpp"

namespace stand_in {

bool Meeting::advance(Clock::time_point now) {
  while (!stages.empty()) {
    const Stage& front = stages.front();
    if (front.work ? !front.work->finished : now < front.until) return false;
    if (front.work && !front.work->transcript && !job_failure) {
      job_failure = front.work->transcript.error();
    }
    stages.pop_front();
    if (!stages.empty()) continue;
    if (job_failure) {
      settled_status = "failed";
      error = *job_failure;
    } else {
      settled_status = "ready";
      error.reset();
      if (on_job_done) on_job_done(*this);
    }
    job_failure.reset();
    on_job_done = nullptr;
    changed();
    return true;
  }
  return false;
}

void Meeting::start_job(std::vector<std::string> statuses, Clock::duration step,
                        std::function<void(Meeting&)> done, std::optional<std::string> failure) {
  stages.clear();
  auto until = Clock::now();
  for (auto& status : statuses) {
    until += step;
    stages.push_back({std::move(status), until});
  }
  on_job_done = std::move(done);
  job_failure = std::move(failure);
  error.reset();
  changed();
}

void Meeting::queue_job(std::vector<std::string> statuses, Clock::duration step,
                        std::function<void(Meeting&)> done, std::optional<std::string> failure) {
  if (!busy()) return start_job(std::move(statuses), step, std::move(done), std::move(failure));
  // A stage with no end in time (background work, a recording) ends when it
  // ends: the steps after it count from now, which its own end follows.
  auto until = stages.back().until == Clock::time_point::max() ? Clock::now() : stages.back().until;
  for (auto& status : statuses) {
    until += step;
    stages.push_back({std::move(status), until});
  }
  on_job_done = [first = std::move(on_job_done), then = std::move(done)](Meeting& m) {
    if (first) first(m);
    if (then) then(m);
  };
  if (!job_failure) job_failure = std::move(failure);
}

void Meeting::wait_for(std::string status, std::shared_ptr<BackgroundJob> work) {
  stages.push_back({std::move(status), Clock::time_point::max(), std::move(work)});
}

void Meeting::cancel_job() {
  for (const Stage& stage : stages) {
    if (stage.work) stage.work->cancelled = true;
  }
  stages.clear();
  on_job_done = nullptr;
  job_failure.reset();
  settled_status = "cancelled";
  changed();
}

Json Meeting::to_json() const {
  return {
      {"id", id},
      {"title", title},
      {"status", status()},
      {"createdAt", created_at},
      // Whole seconds print as integers, as the app's do.
      {"durationSeconds", duration_seconds == std::floor(duration_seconds)
                              ? Json(static_cast<std::uint64_t>(duration_seconds))
                              : Json(duration_seconds)},
      {"source", source},
      {"transcriptionModel", transcription_model ? Json(*transcription_model) : Json()},
      {"speakerLabels", speaker_labels},
      {"speakerCount", speaker_count()},
      {"transcript", transcript},
      {"cleanedTranscript", cleaned_transcript ? Json(*cleaned_transcript) : Json()},
      {"notes", notes},
      {"recognitionCompleteness", transcript.empty() ? 0.0 : 1.0},
      {"recordingWarnings", Json::array()},
      {"recognitionWarnings", shown_warnings()},
      {"error", error ? Json(*error) : Json()},
  };
}

Json Meeting::list_json() const {
  Json entry = to_json();
  entry.erase("transcript");
  entry.erase("cleanedTranscript");
  entry.erase("notes");
  return entry;
}

// What the loader found is said with the warnings while it holds; it is no
// part of the meeting kept.
std::vector<std::string> Meeting::shown_warnings() const {
  if (!unread_audio) return recognition_warnings;
  std::vector<std::string> shown = recognition_warnings;
  shown.push_back(fmt::format(
      "The audio file {} could not be read ({}); the meeting keeps it and has its audio again "
      "once it can be read when Murmela starts.",
      audio_file, *unread_audio));
  return shown;
}

std::string Meeting::unread_audio_error() const {
  return fmt::format(
      "The meeting's audio file {} could not be read when Murmela started ({}); it is kept as it "
      "is: make it readable and restart Murmela.",
      audio_file, unread_audio.value_or("unknown reason"));
}

// Each name is looked up in a map of where it stands: a transcript of a
// million different speakers takes one pass, not a million.
namespace {

// Calls `each` with the speaker's name of every line that has one, in
// transcript order.
template <typename Each>
void for_each_speaker_line(std::string_view transcript, Each each) {
  while (!transcript.empty()) {
    const auto end = transcript.find('\n');
    const std::string_view line = transcript.substr(0, end);
    transcript = end == std::string_view::npos ? std::string_view() : transcript.substr(end + 1);
    const auto colon = line.find(": ");
    if (colon != std::string_view::npos && colon != 0) each(line.substr(0, colon));
  }
}

}  // namespace

std::vector<std::pair<std::string, int>> Meeting::speakers() const {
  std::vector<std::pair<std::string, int>> found;
  std::unordered_map<std::string_view, std::size_t> index;
  for_each_speaker_line(transcript, [&](std::string_view name) {
    const auto [at, added] = index.try_emplace(name, found.size());
    if (added) {
      found.emplace_back(std::string(name), 1);
    } else {
      ++found[at->second].second;
    }
  });
  return found;
}

std::size_t Meeting::speaker_count() const {
  std::unordered_set<std::string_view> names;
  for_each_speaker_line(transcript, [&](std::string_view name) { names.insert(name); });
  return names.size();
}

Json speakers_json(const Meeting& meeting) {
  Json speakers = Json::array();
  for (const auto& [name, lines] : meeting.speakers())
    speakers.push_back({{"name", name}, {"lines", lines}});
  return Json{{"id", meeting.id}, {"speakers", speakers}};
}

std::string text_of_lines(const std::vector<std::string>& lines) {
  std::string text;
  for (std::size_t i = 0; i < lines.size(); ++i) text += (i > 0 ? "\n" : "") + lines[i];
  return text;
}

std::string new_meeting_id() {
  static std::mt19937_64 random{std::random_device{}()};
  return fmt::format("{:016x}{:016x}", random(), random());
}

std::string iso_time_now() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  ::gmtime_r(&now, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

}  // namespace stand_in
