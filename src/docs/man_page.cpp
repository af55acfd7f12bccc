#include "docs/man_page.hpp"

#include <algorithm>
#include <set>
#include <span>
#include <string_view>

#include <fmt/format.h>

#include "agent_integration/json_targets.hpp"
#include "cli/command_lines.hpp"
#include "cli/invocation.hpp"
#include "common/try.hpp"
#include "common/version.hpp"
#include "docs/command_descriptions.hpp"

namespace murmela {

namespace {

// Text as roff shows it literally: backslashes escaped, hyphens as minus
// signs (so that options can be copied), and no line starting as a request.
std::string roff(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\\') {
      out += "\\e";
    } else if (c == '-') {
      out += "\\-";
    } else {
      out += c;
    }
  }
  if (out.starts_with('.') || out.starts_with('\'')) out.insert(0, "\\&");
  return out;
}

// Text from the help, where `word` marks a word to type as it stands: set in
// bold, as manual pages set what is typed, without the backquotes.
std::string roff_prose(std::string_view text) {
  std::string out;
  bool typed = false;
  for (std::size_t start = 0; start <= text.size();) {
    const std::size_t end = std::min(text.find('`', start), text.size());
    const std::string piece = roff(text.substr(start, end - start));
    out += typed ? fmt::format("\\fB{}\\fR", piece) : piece;
    typed = !typed;
    start = end + 1;
  }
  return out;
}

// Lets a narrow terminal break a long run after each of `after` (a path
// after '/', alternatives after '|'): roff never hyphenates these.
std::string breakable(std::string text, char after) {
  for (std::size_t at = text.find(after); at != std::string::npos; at = text.find(after, at + 3)) {
    text.insert(at + 1, "\\:");
  }
  return text;
}

std::string_view trimmed_end(std::string_view text) {
  while (text.ends_with(' ')) text.remove_suffix(1);
  return text;
}

struct FlagText {
  std::string_view flags;  // as the page lists them
  std::vector<std::string_view> arguments;
  std::string_view text;
};

const std::vector<FlagText> kFlagTexts = {
    {"-h, --help", {"-h", "--help"}, "Print the help text; the same as the command help."},
    {"-V, --version",
     {"-V", "--version"},
     "Print the version line; the same as the command version."},
    {"--no-launch",
     {"--no-launch"},
     "Never start Murmela: when it is not running, fail with exit status 3."},
    {"--detach",
     {"--detach"},
     "Return as soon as the app has started a long job, instead of waiting for its end; "
     "follow it with meetings wait."},
    {"--confirm, --yes",
     {"--confirm", "--yes"},
     "Allow a destructive command (meetings delete, meetings labels)."},
    {"--cleaned",
     {"--cleaned"},
     "Use the cleaned transcript (meetings transcript, meetings export)."},
};

std::expected<void, std::string> check_every_flag_described() {
  std::set<std::string_view> described;
  for (const auto& flag : kFlagTexts)
    described.insert(flag.arguments.begin(), flag.arguments.end());
  for (std::string_view flag : flag_arguments()) {
    if (!described.contains(flag)) {
      return std::unexpected(fmt::format("the manual page does not describe the flag {}", flag));
    }
  }
  return {};
}

}  // namespace

std::string_view flag_text(std::string_view argument) {
  for (const auto& flag : kFlagTexts) {
    if (std::ranges::find(flag.arguments, argument) != flag.arguments.end()) return flag.text;
  }
  return {};
}

namespace {

std::string joined_words(const CommandLine& command) {
  std::string words;
  for (const std::string& word : command.words) words += words.empty() ? word : " " + word;
  return words;
}

// What one entry says: its command's description, or for a line of
// alternatives (`dictation start|stop|cancel`) each alternative's, one a line.
std::expected<std::string, std::string> entry_text(std::span<const CommandLine> alternatives) {
  std::string text;
  for (const CommandLine& command : alternatives) {
    const std::string words = joined_words(command);
    const std::string_view description = command_description(words);
    if (description.empty()) {
      return std::unexpected(
          fmt::format("the manual page does not describe the command {}", words));
    }
    if (alternatives.size() == 1) return roff_prose(description) + "\n";
    text += fmt::format("{}\\fB{}\\fR: {}\n", text.empty() ? "" : ".br\n",
                        roff(command.words.back()), roff_prose(description));
  }
  return text;
}

std::expected<void, std::string> append_commands(std::string& page) {
  // Usages are long runs of few spaces: set flush left, so that a narrow
  // terminal never has to stretch a line's spaces to fill it.
  page += ".SH COMMANDS\n.nh\n.ad l\n";
  const std::vector<CommandLine>& commands = documented_commands();
  std::string section;
  for (auto first = commands.begin(); first != commands.end();) {
    const CommandLine& command = *first;
    // Alternatives of one help line follow each other.
    const auto end = std::find_if(first, commands.end(), [&](const CommandLine& other) {
      return other.syntax != command.syntax;
    });
    if (command.section != section) {
      section = command.section;
      page += fmt::format(".SS {}\n", roff(section));
      if (!command.section_note.empty()) {
        page += fmt::format("{}\n", roff_prose(command.section_note));
      }
    }
    const std::string_view words = trimmed_end(
        std::string_view(command.syntax).substr(0, command.syntax.size() - command.usage.size()));
    page += fmt::format(".TP\n\\fB{}\\fR", roff(words));
    if (!command.usage.empty()) {
      page += fmt::format(" \\fI{}\\fR", breakable(roff(command.usage), '|'));
    }
    TRY_ASSIGN(auto text, entry_text(std::span(first, end)));
    page += "\n" + text;
    first = end;
  }
  return {};
}

// The NAME of a path that starts "$NAME/".
std::string_view leading_variable(std::string_view path) {
  return path.substr(1, path.find('/') - 1);
}

void append_files(std::string& page) {
  page += R"(.SH FILES
.TP
.I $XDG_DATA_HOME/Murmela/cli.sock
The socket of the running app. The data folder is
.I $XDG_DATA_HOME/Murmela
when that variable holds an absolute path, else
.IR ~/.local/share/Murmela .
.TP
.I $XDG_DATA_HOME/Murmela/agent\-integration.json
What the last agents install or remove did: the CLI path it registered.
.TP
.I $XDG_DATA_HOME/Murmela/agent\-integration.lock
Held while agents install or remove edits files, so that two runs never interleave.
.TP
.I ~/.local/bin/murmela\-cli
The link to the CLI that agents install makes when no folder on PATH holds the CLI.
.TP
.I ~/.zprofile
Gets a line adding ~/.local/bin to PATH when no zsh start-up file mentions it.
.TP
.I ~/.claude.json
Claude Code's configuration, changed only through the claude command (claude mcp add and remove).
.TP
.I $CODEX_HOME/config.toml
Codex's configuration (\fI~/.codex/config.toml\fR without CODEX_HOME): the table [mcp_servers.murmela].
)";
  // Each file where its product looks: where a variable moves it, under the
  // variable's name, with where it is when the variable is unset.
  const AgentEnvironment unset{.home = "~"};
  AgentEnvironment named = unset;
  named.xdg_config_home = "$XDG_CONFIG_HOME";
  named.gemini_cli_home = "$GEMINI_CLI_HOME";
  const auto usual = json_targets(unset);
  const auto moved = json_targets(named);
  for (std::size_t i = 0; i < moved.size(); ++i) {
    const JsonTarget& target = moved[i];
    page += fmt::format(".TP\n.I {}\n{}'s configuration: the member murmela of {}",
                        breakable(roff(target.file), '/'), roff(target.target),
                        roff(target.servers_key));
    if (target.file != usual[i].file) {
      page += fmt::format(" (\\fI{}\\fR without {})", breakable(roff(usual[i].file), '/'),
                          leading_variable(target.file));
    }
    page += ".\n";
  }
}

}  // namespace

std::expected<std::string, std::string> man_page() {
  TRY(check_every_flag_described());
  std::string page = fmt::format(R"(.TH MURMELA\-CLI 1 "" "murmela\-cli {}" "User Commands"
.SH NAME
murmela\-cli \- control Murmela from a terminal, script or agent
.SH SYNOPSIS
.B murmela\-cli
.I command
.RI [ arguments ]
.RI [ options ]
.SH DESCRIPTION
.B murmela\-cli
is the command\-line companion of Murmela, an app for dictation and for
recording, transcribing and taking notes on meetings.
The CLI owns no data: each command becomes one or a few requests to the
running app over a Unix socket, and the answer prints on standard output as
JSON with two\-space indentation and keys in byte order (a few commands print
text).
When the app is not running, the CLI starts it in the background and waits
for it, unless \fB\-\-no\-launch\fR is given.
Errors are one line on standard error, starting with \fBerror:\fR.
.PP
Flags and options may stand anywhere on the line, as
\fB\-\-name value\fR or \fB\-\-name=value\fR.
Meeting IDs accept a full ID, a unique prefix, or \fBlatest\fR for the most
recently started meeting.
.PP
When standard error is a terminal, commands that wait for a long job show
one status line there, erased before the result prints; an interrupt then
leaves the job running in the app and says how to follow or stop it.
.SH OPTIONS
)",
                                 kCliVersion);
  for (const FlagText& flag : kFlagTexts) {
    page += fmt::format(".TP\n.B {}\n{}\n", roff(flag.flags), roff(flag.text));
  }
  TRY(append_commands(page));
  page += R"(.ad
.SH EXIT STATUS
.TP
.B 0
Success.
.TP
.B 1
The command or the app failed, or the output could not be written.
.TP
.B 2
Usage error: the command line names nothing known or lacks a value; a hint
line follows the error.
.TP
.B 3
Murmela is not running and could not be started (or \fB\-\-no\-launch\fR was given).
.TP
.B 130
Interrupted by Ctrl\-C (the shell reports 128 plus the signal's number, 2); a long
job the command was waiting for goes on in the app.
.SH ENVIRONMENT
.TP
.B HOME
The user's home folder: the data folder and every agent configuration are found from it,
unless a variable below moves them.
.TP
.B XDG_DATA_HOME
When an absolute path, the folder that holds the app's data folder
.IR Murmela .
.TP
.B XDG_CONFIG_HOME
When an absolute path, the folder that holds the folders of opencode
.RI ( opencode )
and Claude Desktop
.RI ( Claude );
otherwise
.I ~/.config
holds them.
.TP
.B GEMINI_CLI_HOME
When an absolute path, the folder that holds Gemini CLI's
.I .gemini
folder instead of the home folder.
.TP
.B CODEX_HOME
Codex's folder, when set; otherwise
.IR ~/.codex .
.TP
.B PATH
Searched by agents install for a folder that already holds the CLI, and for the claude command.
.TP
.B TERM
The status line of long jobs is drawn only on a terminal whose TERM is set and not
.BR dumb .
)";
  append_files(page);
  page += R"(.SH EXAMPLES
.EX
murmela\-cli help
murmela\-cli guide
murmela\-cli status
murmela\-cli settings set language=de \e
    meetingSpeakerLabels=false
murmela\-cli meetings list
murmela\-cli meetings transcribe latest \-\-detach
murmela\-cli meetings wait latest
murmela\-cli meetings export latest call.md
murmela\-cli invoke get_meeting \(aq{"id":"..."}\(aq
murmela\-cli agents install
.EE
.SH SEE ALSO
.BR murmela (1):
the stand\-in app that the CLI starts on Linux, where the Murmela app does not run.
.PP
.B murmela\-cli guide
prints how coding agents should use Murmela through the CLI.
)";
  return page;
}

}  // namespace murmela
