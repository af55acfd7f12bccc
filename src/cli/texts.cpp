#include "cli/texts.hpp"

#include <fmt/format.h>

#include "app_link/protocol.hpp"
#include "cli/command_table.hpp"
#include "common/platform.hpp"
#include "common/utf8.hpp"

namespace murmela {

namespace {

// What follows "murmela-cli {version}", before the commands.
constexpr std::string_view kHelpAfterVersion =
    R"TEXT(: control Murmela from a terminal, script or agent.

Usage: murmela-cli <command> [options]

The CLI talks to the running Murmela app and starts it in the background if
needed (--no-launch to skip). Results print as JSON; errors go to stderr.
Exit codes: 0 ok, 1 failed, 2 usage, 3 Murmela not running.

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
  static const std::string text =
      fmt::format("murmela-cli {}{}{}", kCliVersion, kHelpAfterVersion, command_table_help());
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
