#include "docs/command_descriptions.hpp"

#include <algorithm>
#include <array>
#include <utility>

namespace murmela {

namespace {

using Description = std::pair<std::string_view, std::string_view>;

constexpr std::array kDescriptions = {
    Description{"status", "Version, state and selected models of the running app."},
    Description{"quit",
                "Quit Murmela (saves an active recording first). A closed app is not started "
                "to be quit."},
    Description{"open",
                "Open a window of the app: dictation (without a page), meetings, setup, "
                "appearance, microphone or shortcuts."},
    Description{"settings get", "Show settings: all of them, or the value of one key."},
    Description{"settings set",
                "Change settings, each given as key=value. A value that reads as JSON (true, 3, "
                "\"de\") is sent as that; any other value as text."},
    Description{"models list",
                "Installed and available models: the speech models that transcribe, and the "
                "models that write notes."},
    Description{"ai", "Cloud AI settings (Notes, titles): the provider that writes them."},
    Description{"vocabulary list",
                "Custom words: the names and terms the app is told to expect in speech."},
    Description{"diagnostics",
                "Diagnostic report: what the app finds about itself and its models, and where "
                "it keeps its data."},
    Description{"dictation start", "Start dictating."},
    Description{"dictation stop", "Stop dictating and keep what was heard."},
    Description{"dictation cancel", "Stop dictating and throw away what was heard."},
    Description{"dictation history",
                "Past dictations and their texts; --limit N lists at most N (20 without it)."},
    Description{"dictation copy-last", "Copy the last dictation's text to the clipboard."},
    Description{"meetings list",
                "Every meeting as a summary: ID, title, status, start, duration and the lengths "
                "of its transcript and notes."},
    Description{"meetings show", "Full record as JSON: the meeting with its transcript and notes."},
    Description{"meetings transcript",
                "Print a meeting's transcript as text; --cleaned prints the cleaned one."},
    Description{"meetings notes", "Print a meeting's notes as text."},
    Description{"meetings record start",
                "Start recording a new meeting from the microphone, the system audio or both "
                "(without --source); --title names it."},
    Description{"meetings record stop",
                "Stop the recording, and wait while the app finishes its meeting."},
    Description{"meetings import",
                "Make a new meeting from an audio or video file; waits until the app has "
                "imported it."},
    Description{"meetings join",
                "New meeting from recordings in order: the audio of two or more meetings, one "
                "after another."},
    Description{"meetings transcribe",
                "Transcribe a meeting (again): recognise its words and label its speakers, and "
                "wait for both; --model M picks the speech model, --detach returns at once."},
    Description{"meetings wait",
                "Wait for a detached job to finish; --timeout S gives up after S seconds."},
    Description{"meetings cancel",
                "Cancel a meeting's running job (a transcription, an import, notes)."},
    Description{"meetings rename", "Give a meeting a new title."},
    Description{"meetings speakers", "Speaker labels in the transcript."},
    Description{"meetings rename-speaker",
                "Rename a speaker in a meeting's transcript: \"Speaker 2\" \"Mara Quillon\" gives "
                "the second voice its name."},
    Description{"meetings labels",
                "Numbered voices on or off: label the transcript's speakers (Speaker 1, Speaker "
                "2, ...) or take the labels out. The app may ask for --confirm."},
    Description{"meetings clean",
                "Local transcript cleanup: a cleaned copy of the transcript, made on this "
                "machine (see --cleaned)."},
    Description{"meetings generate-notes",
                "Write notes from the transcript with the AI provider set in Murmela: a preset "
                "(summary without --preset), or custom with --instructions T."},
    Description{"meetings set-notes",
                "Replace a meeting's notes: with a text (--text T), a file (--file F), or "
                "standard input (--file -)."},
    Description{"meetings set-transcript",
                "Replace a meeting's transcript: with a text (--text T), a file (--file F), or "
                "standard input (--file -)."},
    Description{"meetings export",
                "Write a meeting to a file as Markdown, text, HTML, PDF or WAV: --format, or "
                "else the path's extension, decides which."},
    Description{"meetings export-audio", "Write a meeting's audio to a file."},
    Description{"meetings delete",
                "Delete a meeting with its audio and transcript. It asks for --confirm."},
    Description{"commands", "Every app command and its arguments, as the app lists them."},
    Description{"invoke",
                "Call any app command with its arguments as one JSON object; prints the answer "
                "as it came."},
    Description{"guide", "How agents should use Murmela: the text the MCP stub hands out too."},
    Description{"agents status",
                "Whether murmela-cli is on PATH and known to each coding agent: Claude Code, "
                "Codex, Gemini CLI, Cursor, Windsurf, Claude Desktop and opencode."},
    Description{"agents install",
                "Put murmela-cli on PATH and register it with each coding agent: a link in "
                "~/.local/bin, and an MCP entry that points the agent to this CLI."},
    Description{"agents remove",
                "Take back what agents install did: the link, the PATH line and each agent's "
                "entry."},
    Description{"mcp",
                "MCP stub for agents: a server on standard input and output that points them to "
                "this CLI."},
    Description{"version", "Print the version line."},
};

}  // namespace

std::string_view command_description(std::string_view words) {
  const auto found = std::ranges::find(kDescriptions, words, &Description::first);
  return found == kDescriptions.end() ? std::string_view() : found->second;
}

std::string_view menu_summary(std::string_view description) {
  for (const std::string_view stop : {". ", "; ", ": "}) {
    description = description.substr(0, description.find(stop));
  }
  if (description.ends_with('.')) description.remove_suffix(1);
  return description;
}

}  // namespace murmela
