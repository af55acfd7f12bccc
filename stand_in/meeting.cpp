#include "meeting.hpp"

#include <cmath>
#include <ctime>
#include <random>

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
      {"speakerCount", speakers().size()},
      {"transcript", transcript},
      {"cleanedTranscript", cleaned_transcript ? Json(*cleaned_transcript) : Json()},
      {"notes", notes},
      {"recognitionCompleteness", transcript.empty() ? 0.0 : 1.0},
      {"recordingWarnings", Json::array()},
      {"recognitionWarnings", recognition_warnings},
      {"error", error ? Json(*error) : Json()},
  };
}

std::vector<std::pair<std::string, int>> Meeting::speakers() const {
  std::vector<std::pair<std::string, int>> found;
  for (const auto& line : murmela::split_lines(transcript)) {
    const auto colon = line.find(": ");
    if (colon == std::string::npos || colon == 0) continue;
    const std::string name = line.substr(0, colon);
    auto it = std::find_if(found.begin(), found.end(), [&](auto& s) { return s.first == name; });
    if (it == found.end()) {
      found.emplace_back(name, 1);
    } else {
      ++it->second;
    }
  }
  return found;
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
