#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app_link/app_commands.hpp"
#include "args.hpp"
#include "kept_library.hpp"
#include "library.hpp"
#include "meeting.hpp"
#include "meetings.hpp"

namespace stand_in {

// A step so long that jobs move on only when `stand_in_step` asks.
inline constexpr std::chrono::milliseconds kManualSteps = std::chrono::hours(1000);

struct Dictation {
  std::string text;
  std::string created_at;
};

// The stand-in app's state and its answers to every app command. Handlers
// run on the connection threads, so all state is behind one mutex; a blocking
// transcription waits without holding it.
class App {
 public:
  // Starts with the library's meetings and settings, or the demo ones
  // without a library. With a `library_path`, every change is saved there.
  App(std::string data_folder, std::string socket_path, Clock::duration job_step,
      std::optional<Library> library, std::string library_path);

  // Writes the library to its file, where there is one. Called without the
  // lock held.
  void save();

  Answer handle(const std::string& command, const Json& args, bool detach);

  bool quit_requested() const { return quit_requested_; }

  // Every command with the arguments it reads, as `commands` answers.
  static Json command_list_json();

  // Whether the request waits until a job has ended (it may take hours)
  // before it is answered.
  static bool waits_for_job(const std::string& command, bool detach);

 private:
  using Lock = std::unique_lock<std::mutex>;

  // What a handler gets: the arguments, the detach marker, and the lock it
  // runs under (a blocking job releases it while it waits).
  struct Call {
    const Args& args;
    bool detach;
    Lock& lock;
  };
  // What a command does with the kept library. A change is saved before
  // its client hears of it. An answer that shows what is kept waits for a
  // save already under way, so that nothing is reported that a kill could
  // still lose; the rest are answered at once, whatever a save is doing.
  enum class Kept { Changes, Shows, Untouched };
  struct Command {
    murmela::AppCommand command;  // its name and the argument keys it reads
    Kept kept;
    Answer (*handler)(App&, const Call&);
  };
  static const std::vector<Command>& commands();

  // Lets go of the lock while a request works on its own copy of the data
  // (reading audio, rendering, writing files), and takes it back at the end,
  // exceptions too. Meanwhile `get_diagnostics` counts the request at work.
  class Unlocked {
   public:
    Unlocked(App& app, Lock& lock, std::string what);
    ~Unlocked();
    Unlocked(const Unlocked&) = delete;
    Unlocked& operator=(const Unlocked&) = delete;

   private:
    App& app_;
    Lock& lock_;
    std::string what_;
  };

  // Meetings.
  // Whether a change fits, as `Meetings::fits` with the settings kept now.
  std::expected<EntrySizes, std::string> fits(const Meeting& changed,
                                              const Meeting* replacing) const;
  // Puts `changed` in the place of `meeting` where it fits.
  Answer replace_meeting(Meeting& meeting, Meeting changed);
  Answer get_meeting(const Args& args);
  Answer meeting_speakers(const Args& args);
  Answer start_meeting(const Args& args);
  Answer stop_meeting();
  Answer import_media(const Args& args, Lock& lock);
  Answer join_meetings(const Args& args, Lock& lock);
  Answer transcribe_meeting(const Args& args, bool detach, Lock& lock);
  // The speech model a transcription uses, and whether someone chose it:
  // the app's default is what the recogniser here stands in for.
  struct ModelChoice {
    std::string id;
    bool chosen = false;
  };
  ModelChoice model_in_settings() const;
  void transcribe(Meeting& meeting, const ModelChoice& model, bool labels,
                  std::optional<std::string> failure = {});
  std::shared_ptr<BackgroundJob> start_recognition(std::shared_ptr<const Audio> audio);
  // The two halves of a save (see `KeptLibrary`): the library as it stands
  // with every job moved on, under the lock; its writing without it.
  std::optional<LibrarySnapshot> snapshot_locked();
  std::expected<void, std::string> write_unlocked(const LibrarySnapshot& snapshot);
  Answer cancel_meeting(const Args& args);
  Answer save_meeting(const Args& args);
  Answer rename_meeting_speaker(const Args& args);
  Answer set_meeting_speaker_labels(const Args& args);
  Answer clean_meeting(const Args& args);
  Answer generate_notes(const Args& args, bool detach, Lock& lock);
  // Answers when the meeting's job is over: the record, or the job's error.
  // The ID is a copy: the meeting may be deleted while the lock is released.
  // Meanwhile `get_diagnostics` counts the request at work under `what`.
  Answer await_job(std::string id, Lock& lock, const std::string& what);
  Answer delete_meeting(const Args& args);
  Answer export_meeting(const Args& args, Lock& lock);
  Answer export_meeting_audio(const Args& args, Lock& lock);
  // Moves every job on; true when one ended (a result to keep).
  bool advance_jobs();
  Answer step_jobs();

  // Everything else.
  Json state();
  Answer save_settings(const Args& args);
  Answer show_page(const Args& args);
  Answer dictation_step(const std::string& command);
  Answer list_dictations(const Args& args);
  Answer copy_last_dictation();
  Answer acknowledge_download_terms(const Args& args);
  Json diagnostics();
  bool model_installed(const std::string& id) const;

  std::mutex mutex_;
  std::string data_folder_;
  std::string socket_path_;
  Clock::duration job_step_;
  Clock::time_point started_ = Clock::now();
  std::atomic<bool> quit_requested_{false};
  KeptLibrary kept_;

  Json settings_;
  std::size_t settings_bytes_ = 0;
  Json models_;
  Meetings meetings_;
  std::string dictation_state_ = "idle";
  std::vector<Dictation> dictations_;
  std::map<std::string, int> at_work_;  // requests working outside the lock, by command
};

// Seeds the library with a few demo meetings.
std::vector<Meeting> demo_meetings();
Json demo_settings();
Json demo_models();

}  // namespace stand_in
