#include "cli/command_table.hpp"

#include <algorithm>
#include <array>

#include <fmt/format.h>
#include <fmt/ranges.h>

#include "app_link/app_commands.hpp"
#include "cli/agents_command.hpp"
#include "cli/app_commands.hpp"
#include "cli/completion_words.hpp"
#include "cli/dictation.hpp"
#include "cli/mcp.hpp"
#include "cli/meetings/commands.hpp"
#include "cli/texts.hpp"

namespace murmela {

namespace {

constexpr std::string_view kApp = "App";
constexpr std::string_view kDictation = "Dictation";
constexpr std::string_view kMeetings =
    "Meetings  (<id> is a full ID, a unique prefix, or `latest` for the most recently started)";
constexpr std::string_view kElse = "Everything else";
constexpr std::string_view kHidden = "";

Done print_text(const Context& ctx, std::string_view text) {
  ctx.out.write(text);
  return {};
}

const std::string* optional_argument(Words arguments, std::size_t index) {
  return arguments.size() > index ? &arguments[index] : nullptr;
}

// An app command's name as a template argument.
template <std::size_t N>
struct AppCommandName {
  char text[N];
  consteval AppCommandName(const char (&name)[N]) { std::copy_n(name, N, text); }
};

// A command that is one app command with `{}`, printed as the app answered.
template <AppCommandName kName>
Done relayed(const Context& ctx, Words, Words) {
  constexpr const AppCommand& kCommand = app_command({kName.text, sizeof(kName.text) - 1});
  return call_and_print(ctx, kCommand.name, Json::object());
}

Done help(const Context& ctx, Words, Words) { return print_text(ctx, help_text()); }
Done guide(const Context& ctx, Words, Words) { return print_text(ctx, guide_text()); }
Done version(const Context& ctx, Words, Words) { return print_text(ctx, version_line()); }
Done settings(const Context& ctx, Words, Words) { return print_settings(ctx, nullptr); }
Done meeting_list(const Context& ctx, Words, Words) { return meetings::list(ctx); }

// Commands that take their one or two arguments as they were typed; the row's
// usage has already counted them.
template <Done (*kCommand)(const Context&, const std::string&)>
Done one_argument(const Context& ctx, Words, Words a) {
  return kCommand(ctx, a[0]);
}

template <Done (*kCommand)(const Context&, const std::string&, const std::string&)>
Done two_arguments(const Context& ctx, Words, Words a) {
  return kCommand(ctx, a[0], a[1]);
}

using namespace meetings;

constexpr std::size_t kWide = kWideSummaryColumn;

constexpr std::array kRows = {
    CommandRow{kApp, "status", "", "Version, state and selected models",
               [](const Context& ctx, Words, Words) { return run_status(ctx); }},
    CommandRow{kApp, "quit", "", "Quit Murmela (saves an active recording first)",
               [](const Context& ctx, Words, Words) { return run_quit(ctx); }},
    CommandRow{kApp, "open", "[page]",
               "Open a window: dictation, meetings, setup, appearance, microphone, shortcuts",
               [](const Context& ctx, Words, Words a) {
                 return run_open(ctx, a.empty() ? "dictation" : a[0]);
               }},
    CommandRow{kApp, "settings get", "[key]", "Show settings",
               [](const Context& ctx, Words, Words a) {
                 return print_settings(ctx, optional_argument(a, 0));
               }},
    CommandRow{kApp, "settings set", "key=value ...",
               "Change settings (values are JSON where they parse)",
               [](const Context& ctx, Words, Words a) { return change_settings(ctx, a); }},
    CommandRow{kApp, "models list", "", "Installed and available models",
               relayed<"get_model_library">},
    CommandRow{kApp, "ai", "", "Cloud AI settings (Notes, titles)", relayed<"get_ai_settings">},
    CommandRow{kApp, "vocabulary list", "", "Custom words", relayed<"get_vocabulary">},
    CommandRow{kApp, "diagnostics", "", "Diagnostic report", relayed<"get_diagnostics">},

    CommandRow{kDictation, "dictation start|stop|cancel", "", "",
               [](const Context& ctx, Words c, Words) { return dictation_step(ctx, c[1]); }},
    CommandRow{kDictation, "dictation history", "[--limit N]", "",
               [](const Context& ctx, Words, Words) { return dictation_history(ctx); }},
    CommandRow{kDictation, "dictation copy-last", "", "", relayed<"copy_last_dictation">},

    CommandRow{kMeetings, "meetings list", "", "", meeting_list},
    CommandRow{kMeetings, "meetings show", "<id>", "Full record as JSON", one_argument<show>},
    CommandRow{kMeetings, "meetings transcript", "<id> [--cleaned]", "", one_argument<transcript>},
    CommandRow{kMeetings, "meetings notes", "<id>", "", one_argument<notes>},
    CommandRow{kMeetings, "meetings record start", "[--title T] [--source both|microphone|system]",
               "", [](const Context& ctx, Words, Words) { return record_start(ctx); }},
    CommandRow{kMeetings, "meetings record stop", "", "",
               [](const Context& ctx, Words, Words) { return record_stop(ctx); }},
    CommandRow{kMeetings, "meetings import", "<file>", "", one_argument<import_media>},
    CommandRow{kMeetings, "meetings join", "<id> <id> ... [--title T]",
               "New meeting from recordings in order",
               [](const Context& ctx, Words, Words a) { return join(ctx, a); }, kWide},
    CommandRow{kMeetings, "meetings transcribe", "<id> [--model M] [--detach]", "",
               one_argument<transcribe>},
    CommandRow{kMeetings, "meetings wait", "<id> [--timeout S]",
               "Wait for a detached job to finish", one_argument<wait>, kWide},
    CommandRow{kMeetings, "meetings cancel", "<id>", "", one_argument<cancel>},
    CommandRow{kMeetings, "meetings rename", "<id> <title>", "", two_arguments<rename>},
    CommandRow{kMeetings, "meetings speakers", "<id>", "Speaker labels in the transcript",
               one_argument<speakers>, kWide},
    CommandRow{
        kMeetings, "meetings rename-speaker", "<id> <from> <to>",
        "e.g. \"Speaker 2\" \"Mara Quillon\"",
        [](const Context& ctx, Words, Words a) { return rename_speaker(ctx, a[0], a[1], a[2]); },
        kWide},
    CommandRow{kMeetings, "meetings labels", "<id> on|off [--confirm]", "Numbered voices on or off",
               [](const Context& ctx, Words, Words a) { return labels(ctx, a[0], a[1] == "on"); },
               kWide},
    CommandRow{kMeetings, "meetings clean", "<id>", "Local transcript cleanup", one_argument<clean>,
               kWide},
    CommandRow{kMeetings, "meetings generate-notes",
               "<id> [--preset summary|tasks|speakers|brief|formatted-transcript|custom] "
               "[--instructions T]",
               "", one_argument<generate_notes>},
    CommandRow{kMeetings, "meetings set-notes", "<id> --file F | --text T", "",
               one_argument<set_notes>},
    CommandRow{kMeetings, "meetings set-transcript", "<id> --file F | --text T", "",
               one_argument<set_transcript>},
    CommandRow{kMeetings, "meetings export",
               "<id> <path> [--format md|txt|html|pdf|wav] [--cleaned]", "",
               two_arguments<export_meeting>},
    CommandRow{kMeetings, "meetings export-audio", "<id> <path>", "", two_arguments<export_audio>},
    CommandRow{kMeetings, "meetings delete", "<id> --confirm", "", one_argument<remove>},

    CommandRow{kElse, "commands", "", "Every app command and its arguments", relayed<"commands">},
    CommandRow{kElse, "invoke", "<command> [json]",
               "Call any app command, e.g. invoke get_meeting '{\"id\":\"...\"}'",
               [](const Context& ctx, Words, Words a) {
                 return run_invoke(ctx, a[0], optional_argument(a, 1));
               }},
    CommandRow{kElse, "guide", "", "How agents should use Murmela", guide},
    CommandRow{kElse, "agents status|install|remove", "",
               "murmela-cli on PATH, and the MCP pointer in\n"
               "Claude Code, Codex, Gemini, Cursor, Windsurf,\n"
               "Claude Desktop and opencode",
               [](const Context& ctx, Words c, Words) { return run_agents(ctx, c[1]); }},
    CommandRow{kElse, "mcp", "", "MCP stub for agents: it points them to this CLI",
               [](const Context&, Words, Words) { return run_mcp(); }},
    CommandRow{kElse, "version", "", "", version},

    // Undocumented: the shorter and older spellings scripts and fingers use,
    // and the commands only the completion scripts and the tests call.
    CommandRow{kHidden, "help", "", "", help},
    CommandRow{kHidden, "help agents", "", "", guide},
    CommandRow{kHidden, "agents", "", "", guide},
    CommandRow{kHidden, "agents ensure|uninstall", "", "",
               [](const Context& ctx, Words c, Words) { return run_agents(ctx, c[1]); }},
    CommandRow{kHidden, "settings", "", "", settings},
    CommandRow{kHidden, "models", "", "", relayed<"get_model_library">},
    CommandRow{kHidden, "ai settings", "", "", relayed<"get_ai_settings">},
    CommandRow{kHidden, "vocabulary", "", "", relayed<"get_vocabulary">},
    CommandRow{kHidden, "snapshot", "", "", relayed<"get_snapshot">},
    CommandRow{kHidden, "ping", "", "", relayed<"ping">},
    CommandRow{kHidden, "meetings", "", "", meeting_list},
    CommandRow{kHidden, "__complete", "[what] ...", "",
               [](const Context& ctx, Words, Words a) { return run_completion_words(ctx, a); }},
};

// The row's lines in the help: the command line, then the summary at its
// column (at least two spaces on), each further line of it at the same column.
std::string help_lines(const CommandRow& row) {
  const std::string syntax = row_syntax(row);
  if (row.summary.empty()) return fmt::format("  {}\n", syntax);
  const std::size_t column = std::max(row.summary_column, syntax.size() + 2);
  std::string lines = fmt::format("  {:<{}}", syntax, column);
  for (const char c : row.summary) {
    lines += c;
    if (c == '\n') lines.append(2 + column, ' ');
  }
  return lines + '\n';
}

}  // namespace

std::span<const CommandRow> command_table() { return kRows; }

std::string row_syntax(const CommandRow& row) {
  return row.usage.empty() ? std::string(row.words) : fmt::format("{} {}", row.words, row.usage);
}

std::string command_table_help() {
  std::string help;
  std::string_view section;
  for (const CommandRow& row : kRows) {
    if (row.section.empty()) continue;
    if (row.section != section) {
      if (!section.empty()) help += '\n';
      section = row.section;
      help += fmt::format("{}\n", section);
    }
    help += help_lines(row);
  }
  return help;
}

std::string_view family_word(std::string_view word) {
  return word == "meeting" ? std::string_view("meetings") : word;
}

std::string family_usage(std::string_view family, Words rest) {
  if (family == "meetings")
    return fmt::format("Unknown meetings command: {}", fmt::join(rest, " "));
  if (family == "dictation") return "Use `dictation start|stop|cancel|history|copy-last`.";
  if (family == "settings") return "Use `settings get [key]` or `settings set key=value ...`.";
  if (family == "agents") return "Use `agents status|install|remove`.";
  return {};
}

}  // namespace murmela
