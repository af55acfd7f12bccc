#include "app.hpp"

#include <algorithm>
#include <set>

#include <unistd.h>

#include "common/version.hpp"
#include "recognizer.hpp"

namespace stand_in {

using murmela::app_command;
using murmela::AppCommand;

App::App(std::string data_folder, std::string socket_path, Clock::duration job_step,
         std::optional<Library> library, std::string library_path)
    : data_folder_(std::move(data_folder)),
      socket_path_(std::move(socket_path)),
      job_step_(job_step),
      kept_(std::move(library_path), data_folder_ + "/audio",
            library ? audio_files_of(library->meetings) : OwnAudio()),
      settings_(library ? library->settings : demo_settings()),
      settings_bytes_(settings_bytes(settings_)),
      models_(demo_models()) {
  for (auto& meeting : library ? std::move(library->meetings) : demo_meetings()) {
    meetings_.add(std::move(meeting));
  }
  // Each meeting's text for the file is made now, before any client is
  // served, instead of all at once under the lock at the first change.
  if (kept_.kept()) (void)snapshot_library(meetings_.all(), settings_);
}

void App::save() {
  std::optional<LibrarySnapshot> snapshot;
  {
    Lock lock(mutex_);
    snapshot = snapshot_locked();
  }
  if (snapshot) (void)write_unlocked(*snapshot);
}

std::optional<LibrarySnapshot> App::snapshot_locked() {
  if (!kept_.kept()) return std::nullopt;
  advance_jobs();
  return kept_.snapshot(meetings_.all(), settings_);
}

std::expected<void, std::string> App::write_unlocked(const LibrarySnapshot& snapshot) {
  auto written = kept_.write(snapshot);
  Lock lock(mutex_);
  kept_.remember(snapshot.sequence, written);
  return written;
}

// Every command: its name and the arguments it reads (the CLI's row of
// app_link/app_commands.hpp, for the commands it sends), what it does with
// the kept library, and its handler. A command is listed exactly when it can
// be answered.
const std::vector<App::Command>& App::commands() {
  using Call = const App::Call&;
  static const std::vector<Command> table = {
      {app_command("ping"),
       Kept::Untouched,
       [](App&, Call) -> Answer {
         return Json{{"pong", true}};
       }},
      {app_command("commands"),
       Kept::Untouched,
       [](App&, Call) -> Answer { return command_list_json(); }},
      {app_command("get_state"), Kept::Shows, [](App& app, Call) -> Answer { return app.state(); }},
      {app_command("save_settings"),
       Kept::Changes,
       [](App& app, Call c) { return app.save_settings(c.args); }},
      {app_command("quit_app"),
       Kept::Untouched,
       [](App& app, Call) -> Answer {
         app.quit_requested_ = true;
         return Json{{"quitting", true}};
       }},
      {app_command("show_page"),
       Kept::Untouched,
       [](App& app, Call c) { return app.show_page(c.args); }},
      {app_command("get_model_library"),
       Kept::Untouched,
       [](App& app, Call) -> Answer {
         return Json{{"models", app.models_}};
       }},
      {app_command("get_ai_settings"),
       Kept::Shows,
       [](App& app, Call) -> Answer {
         return Json{{"provider", "local"},
                     {"cloud", false},
                     {"notesModel", app.settings_["notesModel"]},
                     {"titles", "local"}};
       }},
      {app_command("get_vocabulary"),
       Kept::Untouched,
       [](App&, Call) -> Answer {
         return Json{{"words", Json::array({"Murmela", "Quillon", "Reeves"})}};
       }},
      {app_command("get_diagnostics"),
       Kept::Untouched,
       [](App& app, Call) -> Answer { return app.diagnostics(); }},
      {app_command("get_snapshot"),
       Kept::Shows,
       [](App& app, Call) -> Answer {
         return Json{{"state", app.state()}, {"meetings", app.meetings_.list_json()}};
       }},
      {AppCommand{"acknowledge_download_terms", {"model"}},
       Kept::Untouched,
       [](App& app, Call c) { return app.acknowledge_download_terms(c.args); }},
      {app_command("start_dictation"),
       Kept::Untouched,
       [](App& app, Call) { return app.dictation_step("start_dictation"); }},
      {app_command("stop_dictation"),
       Kept::Untouched,
       [](App& app, Call) { return app.dictation_step("stop_dictation"); }},
      {app_command("cancel_dictation"),
       Kept::Untouched,
       [](App& app, Call) { return app.dictation_step("cancel_dictation"); }},
      {app_command("list_dictations"),
       Kept::Untouched,
       [](App& app, Call c) { return app.list_dictations(c.args); }},
      {app_command("copy_last_dictation"),
       Kept::Untouched,
       [](App& app, Call) { return app.copy_last_dictation(); }},
      {app_command("list_meetings"),
       Kept::Shows,
       [](App& app, Call) -> Answer { return app.meetings_.list_json(); }},
      {app_command("get_meeting"),
       Kept::Shows,
       [](App& app, Call c) { return app.get_meeting(c.args); }},
      {app_command("meeting_speakers"),
       Kept::Shows,
       [](App& app, Call c) { return app.meeting_speakers(c.args); }},
      {app_command("start_meeting"),
       Kept::Changes,
       [](App& app, Call c) { return app.start_meeting(c.args); }},
      {app_command("stop_meeting"),
       Kept::Changes,
       [](App& app, Call) { return app.stop_meeting(); }},
      {app_command("import_media"),
       Kept::Changes,
       [](App& app, Call c) { return app.import_media(c.args, c.lock); }},
      {app_command("join_meetings"),
       Kept::Changes,
       [](App& app, Call c) { return app.join_meetings(c.args, c.lock); }},
      {app_command("transcribe_meeting"),
       Kept::Changes,
       [](App& app, Call c) { return app.transcribe_meeting(c.args, c.detach, c.lock); }},
      {app_command("cancel_meeting"),
       Kept::Changes,
       [](App& app, Call c) { return app.cancel_meeting(c.args); }},
      {app_command("save_meeting"),
       Kept::Changes,
       [](App& app, Call c) { return app.save_meeting(c.args); }},
      {app_command("rename_meeting_speaker"),
       Kept::Changes,
       [](App& app, Call c) { return app.rename_meeting_speaker(c.args); }},
      {app_command("set_meeting_speaker_labels"),
       Kept::Changes,
       [](App& app, Call c) { return app.set_meeting_speaker_labels(c.args); }},
      {app_command("clean_meeting"),
       Kept::Changes,
       [](App& app, Call c) { return app.clean_meeting(c.args); }},
      {app_command("generate_notes"),
       Kept::Changes,
       [](App& app, Call c) { return app.generate_notes(c.args, c.detach, c.lock); }},
      {app_command("delete_meeting"),
       Kept::Changes,
       [](App& app, Call c) { return app.delete_meeting(c.args); }},
      {app_command("export_meeting"),
       Kept::Shows,
       [](App& app, Call c) { return app.export_meeting(c.args, c.lock); }},
      {app_command("export_meeting_audio"),
       Kept::Shows,
       [](App& app, Call c) { return app.export_meeting_audio(c.args, c.lock); }},
      // Stand-in only: moves every running job on by one status.
      {AppCommand{"stand_in_step"}, Kept::Changes, [](App& app, Call) { return app.step_jobs(); }},
  };
  return table;
}

Json App::command_list_json() {
  Json list = Json::array();
  for (const auto& command : commands()) {
    Json args = Json::array();
    for (const std::string_view key : command.command.arguments()) args.push_back(std::string(key));
    list.push_back({{"name", std::string(command.command.name)},
                    {"args", std::move(args)},
                    {"changesLibrary", command.kept == Kept::Changes}});
  }
  return list;
}

bool App::waits_for_job(const std::string& command, bool detach) {
  return !detach && (command == "transcribe_meeting" || command == "generate_notes");
}

Answer App::handle(const std::string& command, const Json& args, bool detach) {
  const auto found =
      std::ranges::find_if(commands(), [&](const Command& c) { return c.command.name == command; });
  if (found == commands().end()) {
    return refuse(
        fmt::format("Unknown command `{}`. Run `murmela-cli commands` to list them.", command));
  }
  const Args reader(args);
  if (!reader.is_object())
    return refuse(fmt::format("The arguments of `{}` must be a JSON object.", command));

  // A handler that throws (memory running out, a library fault) fails its
  // own request; the app and every other client go on.
  try {
    Lock lock(mutex_);
    const bool landed = advance_jobs();
    auto answer = found->handler(*this, Call{reader, detach, lock});
    // A change, or a job's result that landed meanwhile, is kept before
    // the client hears of it; a change that could not be kept fails. The
    // writing is done without the lock: other clients go on meanwhile.
    std::optional<LibrarySnapshot> snapshot;
    if (landed || found->kept == Kept::Changes) snapshot = snapshot_locked();
    const std::uint64_t shown = kept_.snapshots_taken();
    lock.unlock();
    if (snapshot) {
      if (auto saved = write_unlocked(*snapshot); !saved && answer) {
        return refuse(fmt::format("The change was made but could not be kept: {}", saved.error()));
      }
    } else if (found->kept == Kept::Shows) {
      kept_.await_written(shown);
    }
    return answer;
  } catch (const std::exception& error) {
    return refuse(fmt::format("The stand-in app could not answer `{}`: {}", command, error.what()));
  }
}

App::Unlocked::Unlocked(App& app, Lock& lock, std::string what)
    : app_(app), lock_(lock), what_(std::move(what)) {
  ++app_.at_work_[what_];
  lock_.unlock();
}

App::Unlocked::~Unlocked() {
  lock_.lock();
  if (--app_.at_work_[what_] == 0) app_.at_work_.erase(what_);
}

Json App::state() {
  Json active;
  if (const Meeting* recording = meetings_.recording()) active = recording->id;
  return {{"version", std::string(murmela::kCliVersion) + "-stand-in"},
          {"state", dictation_state_},
          {"meetingRecording", !active.is_null()},
          {"activeMeetingId", active},
          {"error", nullptr},
          {"settings", settings_}};
}

Answer App::save_settings(const Args& args) {
  const Json* settings = args.find("settings");
  if (!settings || !settings->is_object()) return refuse("Argument `settings` must be an object.");
  for (const auto& [key, value] : settings->items()) {
    if (!settings_.contains(key)) return refuse(fmt::format("Unknown setting `{}`.", key));
    if (settings_[key].type() != value.type() &&
        !(settings_[key].is_number() && value.is_number())) {
      return refuse(fmt::format("Setting `{}` must be a {}.", key, settings_[key].type_name()));
    }
  }
  Json changed = settings_;
  for (const auto& [key, value] : settings->items()) changed[key] = value;
  const std::size_t bytes = settings_bytes(changed);
  if (bytes > kMaxSettingsBytes && bytes > settings_bytes_) {
    return refuse(
        fmt::format("The settings would take {:.1f} MiB, more than the {} MiB they may take.",
                    static_cast<double>(bytes) / (1 << 20), kMaxSettingsBytes >> 20));
  }
  if (bytes > settings_bytes_ && meetings_.library_bytes(bytes) > max_library_bytes()) {
    return refuse(
        fmt::format("The settings do not fit: the library would take more than the {} "
                    "MiB it may take to be loaded again.",
                    max_library_bytes() >> 20));
  }
  settings_ = std::move(changed);
  settings_bytes_ = bytes;
  return Json{{"settings", settings_}};
}

Answer App::show_page(const Args& args) {
  auto page = args.string("page");
  if (!page) return refuse(page.error());
  static const std::set<std::string> kPages = {"dictation",  "meetings",   "setup",
                                               "appearance", "microphone", "shortcuts"};
  if (!kPages.contains(*page)) return refuse(fmt::format("Unknown page `{}`.", *page));
  return Json{{"page", *page}, {"shown", false}, {"note", "The stand-in app has no windows."}};
}

Answer App::dictation_step(const std::string& command) {
  Json output;
  if (command == "start_dictation") {
    if (dictation_state_ == "recording") return refuse("Dictation is already running.");
    dictation_state_ = "recording";
  } else if (dictation_state_ != "recording") {
    return refuse("No dictation is running.");
  } else if (command == "stop_dictation") {
    dictation_state_ = "idle";
    const std::string text = "Stand-in dictation: this app recognises no speech.";
    dictations_.push_back({text, iso_time_now()});
    output = text;
  } else {
    dictation_state_ = "idle";
  }
  return Json{{"state", dictation_state_}, {"error", nullptr}, {"outputText", output}};
}

Answer App::list_dictations(const Args& args) {
  std::uint64_t limit = 20;
  if (const Json* given = args.find("limit")) {
    if (!given->is_number_unsigned()) return refuse("Argument `limit` must be a whole number.");
    limit = given->get<std::uint64_t>();
  }
  Json list = Json::array();
  for (auto it = dictations_.rbegin(); it != dictations_.rend() && list.size() < limit; ++it) {
    list.push_back({{"text", it->text}, {"createdAt", it->created_at}});
  }
  return list;
}

Answer App::copy_last_dictation() {
  if (dictations_.empty()) return refuse("There is no dictation to copy yet.");
  return Json{{"copied", dictations_.back().text}};
}

Answer App::acknowledge_download_terms(const Args& args) {
  auto model = args.string("model");
  if (!model) return refuse(model.error());
  for (auto& entry : models_) {
    if (entry["id"] == *model) {
      entry["licenseAccepted"] = true;
      return Json{{"model", *model}, {"licenseAccepted", true}};
    }
  }
  return refuse(fmt::format("Unknown model `{}`.", *model));
}

bool App::model_installed(const std::string& id) const {
  return std::ranges::any_of(
      models_, [&](const Json& m) { return m["id"] == id && m["installed"] == true; });
}

Json App::diagnostics() {
  return {
      {"app", "Murmela stand-in"},
      {"note", !kept_.kept()
                   ? "This is a stand-in app for development and testing. This run is throwaway: "
                     "its meetings live in memory only."
                   : fmt::format("This is a stand-in app for development and testing. Its library "
                                 "is kept in {}.",
                                 kept_.path())},
      {"speechRecognition",
       recognizer_installed()
           ? "pocketsphinx-en-us: imported audio is recognised (English)"
           : "pocketsphinx-en-us is not installed: transcripts are made up (apt-get install "
             "pocketsphinx-en-us)"},
      {"dataFolder", data_folder_},
      {"socket", socket_path_},
      {"pid", ::getpid()},
      {"uptimeSeconds",
       std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - started_).count()},
      {"meetings", meetings_.size()},
      {"library", !kept_.kept() ? Json() : Json(kept_.path())},
      {"librarySaveError", kept_.save_error() ? Json(*kept_.save_error()) : Json()},
      {"requestsAtWork", at_work_}};
}

}  // namespace stand_in
