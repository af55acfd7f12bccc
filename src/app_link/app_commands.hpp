#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string_view>

namespace murmela {

// One command of the app's socket protocol: its name on the wire and the
// argument keys it reads.
struct AppCommand {
  static constexpr std::size_t kMaxKeys = 4;

  std::string_view name;
  std::array<std::string_view, kMaxKeys> keys{};  // the first ones; the rest empty

  constexpr std::span<const std::string_view> arguments() const {
    std::size_t count = 0;
    while (count < keys.size() && !keys[count].empty()) ++count;
    return {keys.data(), count};
  }

  // `wanted` as one of the command's argument keys. Used where a request is
  // built, so that a key the command does not take fails to compile.
  consteval std::string_view key(std::string_view wanted) const;
};

// Every app command the CLI sends, with the keys it sends them. The CLI
// builds its requests from these rows and the stand-in answers them from the
// same rows; a stand-in test checks that every row is answered. A new
// relayed command is a row here, a row in the CLI's command table and a
// handler in the stand-in.
inline constexpr auto kAppCommands = std::to_array<AppCommand>({
    {"ping"},
    {"get_state"},
    {"save_settings", {"settings"}},
    {"quit_app"},
    {"show_page", {"page"}},
    {"get_model_library"},
    {"get_ai_settings"},
    {"get_vocabulary"},
    {"get_diagnostics"},
    {"get_snapshot"},
    {"commands"},
    {"start_dictation"},
    {"stop_dictation"},
    {"cancel_dictation"},
    {"list_dictations", {"limit"}},
    {"copy_last_dictation"},
    {"list_meetings"},
    {"get_meeting", {"id"}},
    {"meeting_speakers", {"id"}},
    {"start_meeting", {"title", "source"}},
    {"stop_meeting"},
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
});

namespace app_commands_detail {
// Never defined: calling it while compiling makes the compiler name it.
void not_a_listed_app_command();
void not_an_argument_key_of_this_app_command();
}  // namespace app_commands_detail

// The row of `name`; a name not listed above fails to compile.
consteval const AppCommand& app_command(std::string_view name) {
  for (const AppCommand& command : kAppCommands) {
    if (command.name == name) return command;
  }
  app_commands_detail::not_a_listed_app_command();
  return kAppCommands[0];
}

consteval std::string_view AppCommand::key(std::string_view wanted) const {
  for (const std::string_view key : arguments()) {
    if (key == wanted) return key;
  }
  app_commands_detail::not_an_argument_key_of_this_app_command();
  return {};
}

}  // namespace murmela
