#include "app.hpp"

#include <algorithm>
#include <set>

#include <unistd.h>

#include "common/version.hpp"

namespace stand_in {

App::App(std::string data_folder, std::string socket_path, Clock::duration job_step)
    : data_folder_(std::move(data_folder)),
      socket_path_(std::move(socket_path)),
      job_step_(job_step),
      settings_(demo_settings()),
      models_(demo_models()) {
  for (auto& meeting : demo_meetings()) add_meeting(std::move(meeting));
}

const std::vector<std::pair<std::string, std::vector<std::string>>>& App::command_list() {
  static const std::vector<std::pair<std::string, std::vector<std::string>>> commands = {
      {"ping", {}},
      {"commands", {}},
      {"get_state", {}},
      {"save_settings", {"settings"}},
      {"quit_app", {}},
      {"show_page", {"page"}},
      {"get_model_library", {}},
      {"get_ai_settings", {}},
      {"get_vocabulary", {}},
      {"get_diagnostics", {}},
      {"get_snapshot", {}},
      {"acknowledge_download_terms", {"model"}},
      {"start_dictation", {}},
      {"stop_dictation", {}},
      {"cancel_dictation", {}},
      {"list_dictations", {"limit"}},
      {"copy_last_dictation", {}},
      {"list_meetings", {}},
      {"get_meeting", {"id"}},
      {"meeting_speakers", {"id"}},
      {"start_meeting", {"title", "source"}},
      {"stop_meeting", {}},
      {"import_media", {"path"}},
      {"join_meetings", {"ids", "title"}},
      {"transcribe_meeting", {"id", "model"}},
      {"cancel_meeting", {"id"}},
      {"save_meeting", {"id", "title", "transcript", "notes"}},
      {"rename_meeting_speaker", {"id", "from", "to"}},
      {"set_meeting_speaker_labels", {"id", "enabled", "confirmed"}},
      {"clean_meeting", {"id"}},
      {"generate_notes", {"id", "preset", "instructions"}},
      {"delete_meeting", {"id"}},
      {"export_meeting", {"id", "path", "format", "transcriptVersion"}},
      {"export_meeting_audio", {"id", "path"}},
      {"stand_in_step", {}},
  };
  return commands;
}

Answer App::handle(const std::string& command, const Json& args, bool detach) {
  const bool known = std::ranges::any_of(command_list(), [&](auto& c) { return c.first == command; });
  if (!known) return refuse(fmt::format("Unknown command `{}`. Run `murmela-cli commands` to list them.", command));
  const Args reader(args);
  if (!reader.is_object()) return refuse(fmt::format("The arguments of `{}` must be a JSON object.", command));

  Lock lock(mutex_);
  advance_jobs();
  if (auto answer = app_command(command, reader)) return *answer;
  return meeting_command(command, reader, detach, lock);
}

// Answers the commands that do not concern meetings.
std::optional<Answer> App::app_command(const std::string& command, const Args& args) {
  if (command == "ping") return Json{{"pong", true}};
  if (command == "commands") {
    Json list = Json::array();
    for (const auto& [name, names] : command_list()) list.push_back({{"name", name}, {"args", names}});
    return list;
  }
  if (command == "get_state") return state();
  if (command == "save_settings") return save_settings(args);
  if (command == "quit_app") {
    quit_requested_ = true;
    return Json{{"quitting", true}};
  }
  if (command == "show_page") return show_page(args);
  if (command == "get_model_library") return Json{{"models", models_}};
  if (command == "get_ai_settings") {
    return Json{{"provider", "local"}, {"cloud", false}, {"notesModel", settings_["notesModel"]},
                {"titles", "local"}};
  }
  if (command == "get_vocabulary") return Json{{"words", Json::array({"Murmela", "Quillon", "Reeves"})}};
  if (command == "get_diagnostics") return diagnostics();
  if (command == "get_snapshot") return Json{{"state", state()}, {"meetings", meeting_list()}};
  if (command == "acknowledge_download_terms") return acknowledge_download_terms(args);
  if (command == "start_dictation" || command == "stop_dictation" || command == "cancel_dictation") {
    return dictation_step(command);
  }
  if (command == "list_dictations") return list_dictations(args);
  if (command == "copy_last_dictation") return copy_last_dictation();
  return std::nullopt;
}

Json App::state() {
  Json active;
  for (const auto& m : meetings_) {
    if (m.status() == "recording") active = m.id;
  }
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
  for (const auto& [key, value] : settings->items()) settings_[key] = value;
  return Json{{"settings", settings_}};
}

Answer App::show_page(const Args& args) {
  auto page = args.string("page");
  if (!page) return refuse(page.error());
  static const std::set<std::string> kPages = {"dictation", "meetings", "setup", "appearance",
                                               "microphone", "shortcuts"};
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
  return std::ranges::any_of(models_, [&](const Json& m) { return m["id"] == id && m["installed"] == true; });
}

Json App::diagnostics() {
  return {{"app", "Murmela stand-in"},
          {"note", "This is a stand-in app for development and testing: it recognises no speech, "
                   "and its meetings live in memory only."},
          {"dataFolder", data_folder_},
          {"socket", socket_path_},
          {"pid", ::getpid()},
          {"uptimeSeconds",
           std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - started_).count()},
          {"meetings", meetings_.size()}};
}

}  // namespace stand_in
