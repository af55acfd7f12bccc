#pragma once

#include <optional>
#include <string>
#include <vector>

namespace murmela {

// What a command's argument or option value can be, for completions.
enum class ValueKind {
  Text,         // anything; nothing to offer
  Choice,       // one of `choices`
  MeetingId,    // a meeting of the running app, or `latest`
  Path,         // a file
  SettingKey,   // a setting of the running app
  SettingPair,  // key=value, the key a setting of the running app
  Model,        // a speech model of the running app
};

struct ValueSpec {
  ValueKind kind = ValueKind::Text;
  std::vector<std::string> choices;
  bool closed = false;  // `on|off`: another word is not this command
};

struct OptionSpec {
  std::string name;                // without the leading "--"
  std::string placeholder;         // as the help shows it ("T", "md|txt"); empty for a flag
  std::optional<ValueSpec> value;  // none for a flag
};

// One command as the help text documents it.
struct CommandLine {
  std::string section;             // "App", "Dictation", "Meetings", "Everything else"
  std::string section_note;        // what the help says beside the section's name
  std::string syntax;              // the help line's command and usage, alternatives unsplit
  std::vector<std::string> words;  // the command words: {"meetings", "export"}
  std::string usage;               // everything after the words, as the help shows it
  std::string summary;             // the help's description; may be empty
  std::vector<ValueSpec> arguments;
  std::size_t required_arguments = 0;  // the leading ones not in `[...]`
  bool last_argument_repeats = false;  // `<id> <id> ...`, `key=value ...`
  std::vector<OptionSpec> options;
};

struct CommandRow;

// The commands one row of the command table runs: one for each alternative
// its line lists (`dictation start|stop|cancel`).
std::vector<CommandLine> commands_of_row(const CommandRow& row);

// Every command the help text lists, in its order. The command table's
// documented rows are the one list of documented commands: the help, the man
// page and the shell completions are made from this.
const std::vector<CommandLine>& documented_commands();

}  // namespace murmela
