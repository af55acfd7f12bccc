#include <filesystem>
#include <set>
#include <sstream>

#include <gtest/gtest.h>

#include "agent_integration/json_targets.hpp"
#include "cli/command_lines.hpp"
#include "cli_fixture.hpp"

using namespace testing_support;
using murmela::CommandLine;
using murmela::documented_commands;
using murmela::ValueKind;
namespace fs = std::filesystem;

namespace {

const std::string kDocs = MURMELA_DOCS_DIR;
const std::string kBashCompletion = kDocs + "/bash-completion/completions/murmela-cli";
const std::string kZshFolder = kDocs + "/zsh/site-functions";
const std::string kFishCompletion = kDocs + "/fish/vendor_completions.d/murmela-cli.fish";
const std::string kManPage = kDocs + "/man/man1/murmela-cli.1";

// Each shell reads the lines in $COMPLETE_LINES and prints, for each, the candidates
// it would offer there, space-separated on one line.
const std::string kBashDriver = R"SH(
[ -f /usr/share/bash-completion/bash_completion ] && . /usr/share/bash-completion/bash_completion
. "$COMPLETION"
mapfile -t lines <<<"$COMPLETE_LINES"
for line in "${lines[@]}"; do
  COMP_LINE=$line COMP_POINT=${#line}
  read -ra COMP_WORDS <<<"$line"
  [[ $line == *" " ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _murmela_cli murmela-cli "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD-1]}"
  echo "${COMPREPLY[*]}"
done
)SH";

const std::string kFishDriver = R"FISH(
source $COMPLETION
for line in (string split \n -- $COMPLETE_LINES)
    echo (complete -C"$line" | string replace -r '\t.*' '' | string join ' ')
end
)FISH";

// zsh's compadd works only inside its completion system; this one prints
// what the real one would offer for the word under the cursor.
const std::string kZshDriver = R"ZSH(
fpath=("$COMPLETION_FOLDER" $fpath)
autoload -Uz compinit && compinit -u -D
[[ $_comps[murmela-cli] == _murmela-cli ]] || { print -u2 "not registered"; exit 1; }
compadd() {
  local suffix=
  while [[ $1 == -* && $1 != -- ]]; do
    [[ $1 == -S ]] && { suffix=$2; shift; }
    shift
  done
  [[ $1 == -- ]] && shift
  local c
  for c in "$@"; do [[ $c == ${words[CURRENT]}* ]] && reply+=("$c$suffix"); done
}
_files() { reply+=("<files>"); }
for line in "${(@f)COMPLETE_LINES}"; do
  words=(${(z)line})
  [[ $line == *' ' ]] && words+=('')
  CURRENT=${#words}
  reply=()
  _murmela-cli
  print -r -- "${(j: :)reply}"
done
)ZSH";

struct Shell {
  const char* name;
  std::string program;
  std::vector<std::string> arguments;  // before the script
  const std::string& script;
  std::string needs;  // a file that must exist for the test
};

void PrintTo(const Shell& shell, std::ostream* os) { *os << shell.name; }

const Shell kShells[] = {
    {"bash", "/bin/bash", {"--norc", "--noprofile", "-c"}, kBashDriver, "/bin/bash"},
    {"zsh", "/usr/bin/zsh", {"-f", "-c"}, kZshDriver, "/usr/bin/zsh"},
    {"fish", "/usr/bin/fish", {"--no-config", "-c"}, kFishDriver, "/usr/bin/fish"},
};

std::string joined(const std::vector<std::string>& words, std::size_t count) {
  std::string text;
  for (std::size_t i = 0; i < count; ++i) text += words[i] + " ";
  return text;
}

std::set<std::string> split_words(const std::string& line) {
  std::set<std::string> words;
  std::istringstream in(line);
  for (std::string word; in >> word;) words.insert(word);
  return words;
}

class Completion : public CliTest, public ::testing::WithParamInterface<Shell> {
 protected:
  void SetUp() override {
    if (!fs::exists(GetParam().needs)) GTEST_SKIP() << GetParam().name << " is not installed";
    // The built CLI first on PATH, as an installed one would be.
    env["PATH"] = fs::path(kCliPath).parent_path().string() + ":/usr/bin:/bin";
  }

  // The candidates for each line, the cursor at its end.
  std::vector<std::set<std::string>> complete_all(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines) text += line + "\n";
    text.pop_back();
    auto shell_env = env;
    shell_env["COMPLETE_LINES"] = text;
    shell_env["COMPLETION"] =
        GetParam().name == std::string("fish") ? kFishCompletion : kBashCompletion;
    shell_env["COMPLETION_FOLDER"] = kZshFolder;
    auto arguments = GetParam().arguments;
    arguments.push_back(GetParam().script);
    auto result = run_program(GetParam().program, arguments, {shell_env, "", home.path()});
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(result.err, "");
    std::vector<std::set<std::string>> candidates;
    std::istringstream out(result.out);
    for (std::string line; std::getline(out, line);) candidates.push_back(split_words(line));
    EXPECT_EQ(candidates.size(), lines.size()) << result.out;
    candidates.resize(lines.size());
    return candidates;
  }

  std::set<std::string> complete(const std::string& line) {
    return complete_all(std::vector<std::string>{line})[0];
  }
};

// Every command of the help text, word by word, from its first letter: the
// completions and the help cannot drift apart.
TEST_P(Completion, OffersEveryDocumentedCommandWordByWord) {
  std::vector<std::string> lines;
  std::vector<std::string> wanted;
  for (const CommandLine& command : documented_commands()) {
    for (std::size_t i = 0; i < command.words.size(); ++i) {
      lines.push_back("murmela-cli " + joined(command.words, i) + command.words[i].substr(0, 1));
      wanted.push_back(command.words[i]);
    }
  }
  const auto candidates = complete_all(lines);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    EXPECT_TRUE(candidates[i].contains(wanted[i])) << "[" << lines[i] << "] lacks " << wanted[i];
  }
  EXPECT_TRUE(complete("murmela-cli meeting record ").contains("stop"));
}

TEST_P(Completion, OffersEveryOptionAndEveryValueTheHelpNames) {
  std::vector<std::string> lines;
  std::vector<std::set<std::string>> wanted;
  for (const CommandLine& command : documented_commands()) {
    const std::string start = "murmela-cli " + joined(command.words, command.words.size());
    std::set<std::string> names{"--no-launch"};
    for (const auto& option : command.options) {
      names.insert("--" + option.name);
      if (option.value && option.value->kind == ValueKind::Choice) {
        lines.push_back(start + "--" + option.name + " ");
        wanted.emplace_back(option.value->choices.begin(), option.value->choices.end());
      }
    }
    lines.push_back(start + "--");
    wanted.push_back(names);
  }
  lines.push_back("murmela-cli open ");
  wanted.push_back({"dictation", "meetings", "setup", "appearance", "microphone", "shortcuts"});
  lines.push_back("murmela-cli meetings labels abc ");
  wanted.push_back({"on", "off"});

  const auto candidates = complete_all(lines);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    for (const auto& word : wanted[i]) {
      EXPECT_TRUE(candidates[i].contains(word)) << "[" << lines[i] << "] lacks " << word;
    }
  }
}

TEST_P(Completion, AsksTheRunningAppForMeetingsAndSettings) {
  FakeApp app(socket_path());
  app.on_ok("list_meetings", R"([{"id":"4f2a"},{"id":"9c1b","title":"x"}])");
  app.on_ok("get_state", R"({"settings":{"language":"en","notesModel":"m"}})");
  const auto candidates =
      complete_all({"murmela-cli meetings show ", "murmela-cli meetings join 4f2a ",
                    "murmela-cli settings get ", "murmela-cli settings set lang"});
  const std::set<std::string> meetings{"latest", "4f2a", "9c1b"};
  EXPECT_EQ(candidates[0], meetings);
  EXPECT_EQ(candidates[1], meetings);
  EXPECT_EQ(candidates[2], (std::set<std::string>{"language", "notesModel"}));
  EXPECT_EQ(candidates[3], std::set<std::string>{"language="});
  // Completing only ever reads.
  for (const auto& command : app.commands()) {
    EXPECT_TRUE(command == "list_meetings" || command == "get_state") << command;
  }
}

TEST_P(Completion, OffersNothingOfTheAppWhenItIsNotRunningAndNeverStartsIt) {
  const auto candidates = complete_all({"murmela-cli meetings show ", "murmela-cli settings get "});
  EXPECT_EQ(candidates[0], std::set<std::string>{"latest"});
  EXPECT_EQ(candidates[1], std::set<std::string>{});
  EXPECT_FALSE(fs::exists(socket_path())) << "completing started the app";
}

TEST_P(Completion, OffersFilesWhereAFileGoes) {
  home.write("talk.wav", "");
  for (const std::string line :
       {"murmela-cli meetings import ta", "murmela-cli meetings set-notes abc --file ta"}) {
    const auto candidates = complete(line);
    EXPECT_TRUE(candidates.contains("talk.wav") || candidates.contains("<files>")) << line;
  }
}

INSTANTIATE_TEST_SUITE_P(Shells, Completion, ::testing::ValuesIn(kShells),
                         [](const auto& shell) { return std::string(shell.param.name); });

// The manual page: lint-free, and it names every command, exit status,
// variable and file.
TEST(ManPage, RendersWithoutWarningsAndListsWhatItMust) {
  if (!fs::exists("/usr/bin/groff")) GTEST_SKIP() << "groff is not installed";
  auto lint = run_program("/usr/bin/groff", {"-man", "-ww", "-z", kManPage}, {{}, "", ""});
  EXPECT_EQ(lint.exit_code, 0);
  EXPECT_EQ(lint.err, "");

  const std::string page = read_file_text(kManPage);
  auto roff = [](std::string_view text) {
    std::string escaped;
    for (char c : text) escaped += c == '-' ? std::string("\\-") : std::string(1, c);
    return escaped;
  };
  for (const CommandLine& command : documented_commands()) {
    const std::string shown =
        command.syntax.substr(0, command.syntax.size() - command.usage.size());
    EXPECT_NE(
        page.find("\\fB" + roff(std::string(shown.substr(0, shown.find_last_not_of(' ') + 1)))),
        std::string::npos)
        << command.syntax;
  }
  for (const std::string text :
       {".SH EXIT STATUS", ".B 3", ".B HOME", ".B XDG_DATA_HOME", ".B CODEX_HOME", ".B PATH",
        "cli.sock", "agent\\-integration.json", "~/.claude.json", "$CODEX_HOME/config.toml"}) {
    EXPECT_NE(page.find(text), std::string::npos) << text;
  }
  // Every agent file, both where a variable moves it and where it is without.
  const murmela::AgentEnvironment unset{.home = "~"};
  murmela::AgentEnvironment named = unset;
  named.xdg_config_home = "$XDG_CONFIG_HOME";
  named.gemini_cli_home = "$GEMINI_CLI_HOME";
  for (const auto& environment : {unset, named}) {
    for (const auto& target : murmela::json_targets(environment)) {
      EXPECT_NE(page.find(roff(target.file)), std::string::npos) << target.file;
    }
  }
  for (const std::string text :
       {".B XDG_CONFIG_HOME", ".B GEMINI_CLI_HOME",
        ".I $GEMINI_CLI_HOME/.gemini/settings.json\nGemini CLI's configuration: the member murmela "
        "of mcpServers (\\fI~/.gemini/settings.json\\fR without GEMINI_CLI_HOME).\n",
        ".I $XDG_CONFIG_HOME/Claude/claude_desktop_config.json\n",
        "(\\fI~/.config/opencode/opencode.json\\fR without XDG_CONFIG_HOME)",
        ".I ~/.cursor/mcp.json\nCursor's configuration: the member murmela of mcpServers.\n"}) {
    EXPECT_NE(page.find(text), std::string::npos) << text;
  }
}

}  // namespace
