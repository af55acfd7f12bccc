// The CLI's requests against the shared list of app commands
// (app_link/app_commands.hpp), which the stand-in is checked against in turn:
// every command line the CLI runs sends only listed commands with listed
// keys, and every listed command is sent by some command line.

#include <set>

#include <fmt/format.h>
#include <fmt/ranges.h>
#include <gtest/gtest.h>

#include "app_link/app_commands.hpp"
#include "cli/command_lines.hpp"
#include "cli/command_table.hpp"
#include "cli/dispatch.hpp"
#include "fake_app_link.hpp"

using namespace murmela;
using testing_support::FakeAppLink;

namespace {

const std::string kFullId = "0123456789abcdef0123456789abcdef";

// A word that fits where the usage shows `value`.
std::string sample(const ValueSpec& value) {
  switch (value.kind) {
    case ValueKind::Choice:
      return value.choices.front();
    case ValueKind::MeetingId:
      return "latest";
    case ValueKind::Path:
      return "call.md";
    case ValueKind::SettingKey:
      return "language";
    case ValueKind::SettingPair:
      return "language=de";
    case ValueKind::Model:
      return "base";
    case ValueKind::Text:
      return "1";
  }
  return "1";
}

// The command line with a word for each argument and every option given
// (`--text` standing for `--file`, of which a command takes one).
std::vector<std::string> sample_line(const CommandLine& command) {
  std::vector<std::string> line = command.words;
  for (const ValueSpec& argument : command.arguments) line.push_back(sample(argument));
  for (const OptionSpec& option : command.options) {
    if (option.name == "file") continue;
    line.push_back("--" + option.name);
    if (option.value) line.push_back(sample(*option.value));
  }
  return line;
}

std::vector<std::vector<std::string>> every_command_line() {
  std::vector<std::vector<std::string>> lines;
  for (const CommandRow& row : command_table()) {
    for (const CommandLine& command : commands_of_row(row)) {
      const std::string& first = command.words.front();
      // `invoke` sends whatever name it is given; `agents` and `mcp` never
      // reach the app (and `agents` writes in the home folder).
      if (first == "invoke" || first == "agents" || first == "mcp") continue;
      if (first == "__complete") {
        for (const char* what : {"ids", "keys", "meetings", "models"}) {
          lines.push_back({first, what});
        }
        continue;
      }
      lines.push_back(sample_line(command));
    }
  }
  return lines;
}

const AppCommand* listed(std::string_view name) {
  for (const AppCommand& command : kAppCommands) {
    if (command.name == name) return &command;
  }
  return nullptr;
}

TEST(AppCommandSurface, TheCliSendsExactlyTheListedCommandsWithTheirKeys) {
  std::set<std::string> sent;
  for (const std::vector<std::string>& line : every_command_line()) {
    FakeAppLink app;
    app.on("list_meetings", Json::array({{{"id", kFullId}}}));
    app.on("get_meeting", Json{{"id", kFullId}, {"status", "ready"}, {"transcript", "t"}});
    app.on("get_state", Json{{"settings", {{"language", "en"}}}});
    auto invocation = scan(line);
    ASSERT_TRUE(invocation) << line[0];
    StringOutput out;
    (void)dispatch(Context{*invocation, app, out});

    for (const FakeAppLink::Call& call : app.calls) {
      const std::string shown = fmt::format("`{}` from `{}`", call.command, fmt::join(line, " "));
      const AppCommand* command = listed(call.command);
      ASSERT_NE(command, nullptr) << shown << " is not in app_link/app_commands.hpp";
      sent.insert(call.command);
      ASSERT_TRUE(call.args.is_object()) << shown;
      for (const auto& [key, value] : call.args.items()) {
        EXPECT_NE(std::ranges::find(command->arguments(), key), command->arguments().end())
            << shown << " sends the key `" << key << "`, which its row does not list";
      }
    }
  }
  for (const AppCommand& command : kAppCommands) {
    EXPECT_TRUE(sent.contains(std::string(command.name)))
        << "no command line sends `" << command.name << "`";
  }
}

}  // namespace
