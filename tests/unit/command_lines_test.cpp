#include "cli/command_lines.hpp"

#include <algorithm>
#include <regex>
#include <sstream>

#include <gtest/gtest.h>

#include "cli/command_table.hpp"
#include "cli/dispatch.hpp"
#include "cli/invocation.hpp"
#include "cli/texts.hpp"
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
    case ValueKind::Model:
      return "base";
    case ValueKind::Text:
      break;
  }
  return "text";
}

// The words and values a user would type for a command, options included.
std::vector<std::string> typed_command(const CommandLine& command) {
  std::vector<std::string> args = command.words;
  for (const ValueSpec& argument : command.arguments) args.push_back(typed(argument));
  if (command.last_argument_repeats) args.push_back(typed(command.arguments.back()));
  for (const OptionSpec& option : command.options) {
    args.push_back("--" + option.name);
    if (option.value) args.push_back(typed(*option.value));
  }
  return args;
}

std::vector<std::string> positional(const std::vector<std::string>& args) {
  auto invocation = scan(args);
  return invocation ? invocation->words : std::vector<std::string>{};
}

// Both ways: every row's command lines, typed as its usage shows them (with
// and without the optional words), reach that very row and no other; and a
// row the help does not show is one of the few deliberate exceptions, so a
// new command cannot run undocumented by accident.
TEST(CommandTable, EveryRowIsDocumentedAndRunsItsOwnCommands) {
  const std::vector<std::string> undocumented = {
      "help",     "help agents", "agents",      "agents ensure|uninstall",
      "settings", "models",      "ai settings", "vocabulary",
      "snapshot", "ping",        "meetings",    "__complete [what] ..."};
  for (const CommandRow& row : command_table()) {
    const std::string syntax = row_syntax(row);
    if (row.section.empty()) {
      EXPECT_NE(std::ranges::find(undocumented, syntax), undocumented.end()) << syntax;
    } else {
      EXPECT_NE(help_text().find("\n  " + syntax), std::string::npos) << syntax;
    }
    for (const CommandLine& command : commands_of_row(row)) {
      std::vector<std::string> words = positional(typed_command(command));
      EXPECT_EQ(command_row(words), &row) << command.syntax;
      words.resize(command.words.size() + command.required_arguments);
      EXPECT_EQ(command_row(words), &row) << command.syntax << " without optional words";
    }
  }
  EXPECT_EQ(command_row(std::vector<std::string>{"meeting", "list"}),
            command_row(std::vector<std::string>{"meetings", "list"}));
}

// The grammar dispatch reads from a row: command words in lower case (the
// last may list alternatives), and a usage of placeholders (`<id>`,
// `key=value`, an option's `T`, `[page]`), literals (`--title`, `on|off`),
// `|` and `...`, any of them in `[...]`. A description that slipped into the
// usage would make its command take words nobody types.
TEST(CommandTable, UsageHoldsOnlyPlaceholdersAndLiterals) {
  const std::regex command_word("[a-z_][a-z_-]*(\\|[a-z-]+)*");
  const std::regex usage_word(
      "\\.\\.\\.|\\||<[a-z]+>|\\[[a-z]+\\]|--[a-z-]+|[A-Z]|key=value|[a-z-]+(\\|[a-z-]+)+");
  for (const CommandRow& row : command_table()) {
    std::istringstream words{std::string(row.words)};
    for (std::string word; words >> word;) {
      EXPECT_TRUE(std::regex_match(word, command_word)) << row.words << ": " << word;
    }
    std::istringstream usage{std::string(row.usage)};
    for (std::string word; usage >> word;) {
      std::string_view bare = word;
      if (bare.starts_with("[--")) bare.remove_prefix(1);
      if (bare.ends_with(']') && !bare.starts_with('[')) bare.remove_suffix(1);
      EXPECT_TRUE(std::regex_match(std::string(bare), usage_word)) << row.usage << ": " << word;
    }
  }
}

// Words that no row takes: one too many or too few, a word outside a closed
// list; the usage error names the family where there is one.
TEST(CommandTable, WordsNoRowTakesAreRefusedAsBefore) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"meetings", "show"}, "Unknown meetings command: show"},
      {{"meeting", "show", "a", "b"}, "Unknown meetings command: show a b"},
      {{"meetings", "labels", "a", "maybe"}, "Unknown meetings command: labels a maybe"},
      {{"meetings", "join", "a"}, "Unknown meetings command: join a"},
      {{"dictation", "start", "now"}, "Use `dictation start|stop|cancel|history|copy-last`."},
      {{"settings", "get", "a", "b"}, "Use `settings get [key]` or `settings set key=value ...`."},
      {{"settings", "set"}, "Use `settings get [key]` or `settings set key=value ...`."},
      {{"agents", "status", "now"}, "Use `agents status|install|remove`."},
      {{"agents", "wipe"}, "Use `agents status|install|remove`."},
      {{"open", "a", "b"}, "Unknown command: open a b"},
      {{"models", "all"}, "Unknown command: models all"},
      {{"invoke"}, "Unknown command: invoke"},
      {{"help", "me"}, "Unknown command: help me"},
  };
  for (const auto& [args, message] : cases) {
    FakeAppLink app;
    StringOutput out;
    auto invocation = scan(args);
    ASSERT_TRUE(invocation);
    auto done = dispatch(Context{*invocation, app, out});
    ASSERT_FALSE(done) << message;
    EXPECT_EQ(done.error().message, message);
    EXPECT_TRUE(app.calls.empty()) << message;
  }
}

// The man page and the completions are made from the help text: every
// command it lists must be one the CLI runs. (`agents` and `mcp` act on this
// process itself, its HOME and its standard input, so they are left out.)
TEST(DocumentedCommands, AreAllCommandsTheCliRuns) {
  for (const CommandLine& command : documented_commands()) {
    if (command.words[0] == "agents" || command.words[0] == "mcp") continue;
    const std::vector<std::string> args = typed_command(command);
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
