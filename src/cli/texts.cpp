#include "cli/texts.hpp"

#include <fmt/format.h>

#include "app_link/protocol.hpp"
#include "common/platform.hpp"
#include "common/utf8.hpp"

namespace murmela {

namespace {

// What follows "murmela-cli {version}".
constexpr std::string_view kHelpAfterVersion =
    R"TEXT(: control Murmela from a terminal, script or agent.

Usage: murmela-cli <command> [options]

The CLI talks to the running Murmela app and starts it in the background if
needed (--no-launch to skip). Results print as JSON; errors go to stderr.
Exit codes: 0 ok, 1 failed, 2 usage, 3 Murmela not running.

App
  status                         Version, state and selected models
  quit                           Quit Murmela (saves an active recording first)
  open [page]                    Open a window: dictation, meetings, setup, appearance, microphone, shortcuts
  settings get [key]             Show settings
  settings set key=value ...     Change settings (values are JSON where they parse)
  models list                    Installed and available models
  ai                             Cloud AI settings (Notes, titles)
  vocabulary list                Custom words
  diagnostics                    Diagnostic report

Dictation
  dictation start|stop|cancel
  dictation history [--limit N]
  dictation copy-last

Meetings  (<id> is a full ID, a unique prefix, or `latest` for the most recently started)
  meetings list
  meetings show <id>             Full record as JSON
  meetings transcript <id> [--cleaned]
  meetings notes <id>
  meetings record start [--title T] [--source both|microphone|system]
  meetings record stop
  meetings import <file>
  meetings join <id> <id> ... [--title T]    New meeting from recordings in order
  meetings transcribe <id> [--model M] [--detach]
  meetings wait <id> [--timeout S]           Wait for a detached job to finish
  meetings cancel <id>
  meetings rename <id> <title>
  meetings speakers <id>                     Speaker labels in the transcript
  meetings rename-speaker <id> <from> <to>   e.g. "Speaker 2" "Mara Quillon"
  meetings labels <id> on|off [--confirm]    Numbered voices on or off
  meetings clean <id>                        Local transcript cleanup
  meetings generate-notes <id> [--preset summary|tasks|speakers|brief|formatted-transcript|custom] [--instructions T]
  meetings set-notes <id> --file F | --text T
  meetings set-transcript <id> --file F | --text T
  meetings export <id> <path> [--format md|txt|html|pdf|wav] [--cleaned]
  meetings export-audio <id> <path>
  meetings delete <id> --confirm

Everything else
  commands                       Every app command and its arguments
  invoke <command> [json]        Call any app command, e.g. invoke get_meeting '{"id":"..."}'
  guide                          How agents should use Murmela
  agents status|install|remove   murmela-cli on PATH, and the MCP pointer in
                                 Claude Code, Codex, Gemini, Cursor, Windsurf,
                                 Claude Desktop and opencode
  mcp                            MCP stub for agents: it points them to this CLI
  version
)TEXT";

constexpr std::string_view kGuideBeforePath = R"TEXT(# Using Murmela from an agent

Murmela has no MCP tools. Use this CLI instead: it reaches everything the app
window can do, and it runs in the background without the window.

CLI: )TEXT";

constexpr std::string_view kGuideAfterPath = R"TEXT(

## Basics
- Every command talks to the running app (one owner for recording, models and
  the meeting library). If the app is closed, the CLI starts it hidden.
- Output is JSON on stdout. Errors are one line on stderr. Exit codes: 0 ok,
  1 failed, 2 usage, 3 not running.
- Meeting IDs accept a unique prefix or `latest`.
- `murmela-cli commands` lists every app command; `murmela-cli invoke <command>
  '<json args>'` calls one directly with the same camelCase arguments the
  window uses.

## Long jobs
`meetings transcribe` waits until recognition and speaker labeling finish.
That can take several minutes for an hour of audio, so allow a long timeout,
or add `--detach` and then run `meetings wait <id>`.

## Typical meeting workflow
    murmela-cli meetings list
    murmela-cli meetings join <first> <second> --title "Client call"
    murmela-cli meetings transcribe <new-id>
    murmela-cli meetings speakers <new-id>
    murmela-cli meetings rename-speaker <new-id> "You" "Tomas Reeves"
    murmela-cli meetings rename-speaker <new-id> "Other speakers" "Ana Pike"
    murmela-cli meetings transcript <new-id>
    murmela-cli meetings set-notes <new-id> --file notes.md
    murmela-cli meetings export <new-id> call.md

## Care
- `generate-notes`, automatic titles and some vocabulary features use the AI
  provider set in Murmela, which may be a paid cloud service. Check
  `murmela-cli ai` and ask the user before using one.
- Destructive commands need `--confirm`. Don't pass it without the user's go-ahead.
- Don't accept model licenses (`acknowledge_download_terms`) for the user.
- Recording uses the microphone and system audio; start one only when asked.
)TEXT";

}  // namespace

const std::string& help_text() {
  static const std::string text = fmt::format("murmela-cli {}{}", kCliVersion, kHelpAfterVersion);
  return text;
}

std::string cli_path_text() {
  auto path = platform::executable_path();
  return path ? lossy_utf8(*path) : std::string("murmela-cli");
}

std::string guide_text() {
  std::string text(kGuideBeforePath);
  text += cli_path_text();
  text += kGuideAfterPath;
  return text;
}

std::string version_line() {
  return fmt::format("murmela-cli {} (protocol {})\n", kCliVersion, PROTOCOL_VERSION);
}

}  // namespace murmela
