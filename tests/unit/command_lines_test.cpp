#include "cli/command_lines.hpp"

#include <gtest/gtest.h>

#include "cli/dispatch.hpp"
#include "cli/invocation.hpp"
#include "fake_app_link.hpp"

using namespace murmela;
using testing_support::FakeAppLink;

namespace {

const CommandLine* documented(std::vector<std::string> words) {
  for (const CommandLine& command : documented_commands()) {
    if (command.words == words) return &command;
  }
  return nullptr;
}

// The words a user would type for an argument of this kind.
std::string typed(const ValueSpec& value) {
  switch (value.kind) {
    case ValueKind::Choice:
      return value.choices.front();
    case ValueKind::MeetingId:
      return "0123456789abcdef0123456789abcdef";
    case ValueKind::Path:
      return "/tmp/x";
    case ValueKind::SettingKey:
      return "language";
    case ValueKind::SettingPair:
      return "language=de";
    case ValueKind::Text:
      break;
  }
  return "text";
}

// The man page and the completions are made from the help text: every
// command it lists must be one the CLI runs. (`agents` and `mcp` act on this
// process itself, its HOME and its standard input, so they are left out.)
TEST(DocumentedCommands, AreAllCommandsTheCliRuns) {
  for (const CommandLine& command : documented_commands()) {
    if (command.words[0] == "agents" || command.words[0] == "mcp") continue;
    std::vector<std::string> args = command.words;
    for (const ValueSpec& argument : command.arguments) args.push_back(typed(argument));
    if (command.last_argument_repeats) args.push_back(typed(command.arguments.back()));
    for (const OptionSpec& option : command.options) {
      args.push_back("--" + option.name);
      if (option.value) args.push_back(typed(*option.value));
    }
    FakeAppLink app;
    app.on("get_state", Json{{"settings", {{"language", "en"}}}});
    StringOutput out;
    auto invocation = scan(args);
    ASSERT_TRUE(invocation) << command.syntax;
    // A value the command refuses is fine here; words it does not know are not.
    auto done = dispatch(Context{*invocation, app, out});
    if (!done) {
      const std::string& message = done.error().message;
      EXPECT_FALSE(message.starts_with("Unknown") || message.starts_with("Use `"))
          << command.syntax << ": " << message;
    }
  }
}

TEST(DocumentedCommands, ReadTheUsageAsTheHelpWritesIt) {
  ASSERT_NE(documented({"meetings", "export"}), nullptr);
  const CommandLine& exported = *documented({"meetings", "export"});
  EXPECT_EQ(exported.section, "Meetings");
  EXPECT_EQ(exported.usage, "<id> <path> [--format md|txt|html|pdf|wav] [--cleaned]");
  ASSERT_EQ(exported.arguments.size(), 2u);
  EXPECT_EQ(exported.arguments[0].kind, ValueKind::MeetingId);
  EXPECT_EQ(exported.arguments[1].kind, ValueKind::Path);
  ASSERT_EQ(exported.options.size(), 2u);
  EXPECT_EQ(exported.options[0].name, "format");
  EXPECT_EQ(exported.options[0].value->choices,
            (std::vector<std::string>{"md", "txt", "html", "pdf", "wav"}));
  EXPECT_EQ(exported.options[1].name, "cleaned");
  EXPECT_FALSE(exported.options[1].value);

  const CommandLine& joined = *documented({"meetings", "join"});
  EXPECT_EQ(joined.arguments.size(), 2u);
  EXPECT_TRUE(joined.last_argument_repeats);
  EXPECT_EQ(joined.summary, "New meeting from recordings in order");

  const CommandLine& notes = *documented({"meetings", "set-notes"});
  ASSERT_EQ(notes.options.size(), 2u);
  EXPECT_EQ(notes.options[0].value->kind, ValueKind::Path);
  EXPECT_EQ(notes.options[1].value->kind, ValueKind::Text);

  EXPECT_EQ(documented({"open"})->arguments[0].choices,
            (std::vector<std::string>{"dictation", "meetings", "setup", "appearance", "microphone",
                                      "shortcuts"}));
  EXPECT_EQ(documented({"settings", "set"})->arguments[0].kind, ValueKind::SettingPair);
  EXPECT_EQ(documented({"meetings", "labels"})->arguments[1].choices,
            (std::vector<std::string>{"on", "off"}));
}

TEST(DocumentedCommands, SplitAlternativesAndKeepLongDescriptionsWhole) {
  for (const char* verb : {"start", "stop", "cancel"}) {
    ASSERT_NE(documented({"dictation", verb}), nullptr) << verb;
    EXPECT_EQ(documented({"dictation", verb})->syntax, "dictation start|stop|cancel");
  }
  EXPECT_EQ(documented({"agents", "install"})->summary,
            "murmela-cli on PATH, and the MCP pointer in Claude Code, Codex, Gemini, Cursor, "
            "Windsurf, Claude Desktop and opencode");
  EXPECT_EQ(documented({"meetings", "list"})->section_note,
            "(<id> is a full ID, a unique prefix, or `latest` for the most recently started)");
}

}  // namespace
