#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <expected>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "audio.hpp"
#include "common/json.hpp"

namespace stand_in {

using murmela::Json;
using Clock = std::chrono::steady_clock;

// Work that runs off the request threads (speech recognition). The worker
// sets `cancelled` aside; `finished` and `transcript` are written under the
// app's mutex.
struct BackgroundJob {
  std::atomic<bool> cancelled{false};
  bool finished = false;
  std::expected<std::string, std::string> transcript = std::unexpected(std::string());
};

// One step of a running job: the status the meeting shows until `until`, or,
// for a stage that waits on background work, until that work has finished.
struct Stage {
  std::string status;
  Clock::time_point until;
  std::shared_ptr<BackgroundJob> work;
};

// What a meeting's entries take: in the kept library, and in the meeting
// list every ID lookup reads.
struct EntrySizes {
  std::size_t kept = 0;
  std::size_t listed = 0;
};

// A meeting of the library. An imported meeting has real audio; the demo
// meetings and recordings have none: `audio_script` holds what they "say",
// which transcription turns into text.
struct Meeting {
  std::string id;
  std::string title;
  std::string created_at;      // ISO 8601, UTC
  std::uint64_t sequence = 0;  // start order; higher is more recent
  double duration_seconds = 0;
  std::shared_ptr<const Audio> audio;  // null where there is no real audio
  std::string audio_file;              // the kept audio's file name, where kept
  // Why the kept audio `audio_file` could not be read when the library was
  // loaded (a folder or disk not there, a damaged file), with `audio` null.
  // The meeting still names the file, so that it has its audio again once
  // the file can be read at a start; nothing stands in for it meanwhile.
  std::optional<std::string> unread_audio;
  Clock::time_point recording_started;
  std::string source;  // both, microphone, system, import, join
  std::optional<std::string> transcription_model;
  bool speaker_labels = true;
  std::vector<std::string> audio_script;  // "Speaker: words" lines
  std::string transcript;
  std::optional<std::string> cleaned_transcript;
  std::string notes;
  std::string settled_status = "ready";
  std::optional<std::string> error;
  std::vector<std::string> recognition_warnings;
  // Its entry's size in the kept library, as last measured (or, while a
  // job runs, as its result may make it).
  std::size_t kept_bytes = 0;
  // Its entry's size in the meeting list, as last measured (or as large as
  // a running job's result may make it).
  std::size_t listed_bytes = 0;
  void take_sizes(const EntrySizes& sizes) {
    kept_bytes = sizes.kept;
    listed_bytes = sizes.listed;
  }
  // Keeps room for a job's result until it lands.
  void reserve_sizes(const EntrySizes& sizes) {
    kept_bytes = std::max(kept_bytes, sizes.kept);
    listed_bytes = std::max(listed_bytes, sizes.listed);
  }

  // What the library file holds for it, made when a library is saved.
  // Whatever changes the meeting clears it (`changed()`), so that the next
  // save makes it again; the other meetings' texts are shared as they are.
  std::shared_ptr<const std::string> stored_text;
  void changed() { stored_text.reset(); }

  // The running job, if any.
  std::deque<Stage> stages;
  std::optional<std::string> job_failure;
  std::function<void(Meeting&)> on_job_done;

  bool busy() const { return !stages.empty(); }
  const std::string& status() const { return busy() ? stages.front().status : settled_status; }

  // Moves the job on to where the clock says it is; true when the job ended.
  bool advance(Clock::time_point now);

  // Starts a job through `statuses`, each lasting `step`; `done` runs when it
  // succeeds.
  void start_job(std::vector<std::string> statuses, Clock::duration step,
                 std::function<void(Meeting&)> done, std::optional<std::string> failure = {});

  // Adds a stage that lasts until `work` has finished; the job fails with the
  // work's error, if it has one.
  void wait_for(std::string status, std::shared_ptr<BackgroundJob> work);

  // Runs the job after the one that is running, or at once when none is.
  void queue_job(std::vector<std::string> statuses, Clock::duration step,
                 std::function<void(Meeting&)> done, std::optional<std::string> failure = {});

  void cancel_job();

  // Whether the meeting has audio of its own, read or not.
  bool has_kept_audio() const { return audio != nullptr || unread_audio.has_value(); }
  // Why its audio cannot be had now, for a request that needs it.
  std::string unread_audio_error() const;

  Json to_json() const;
  // Its entry in the meeting list: the record without its long texts.
  Json list_json() const;
  // The recognition warnings, and what keeps its audio from being read.
  std::vector<std::string> shown_warnings() const;

  // Speaker names in transcript order, with how many lines each has.
  std::vector<std::pair<std::string, int>> speakers() const;
  std::size_t speaker_count() const;
};

// What `meeting_speakers` answers: the ID and each speaker's name and lines.
Json speakers_json(const Meeting& meeting);

// Lines as one text, separated by line feeds.
std::string text_of_lines(const std::vector<std::string>& lines);

// A new random 32-digit lowercase hexadecimal ID.
std::string new_meeting_id();

std::string iso_time_now();

}  // namespace stand_in
