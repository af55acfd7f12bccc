#include <chrono>
#include <csignal>
#include <filesystem>
#include <set>
#include <sstream>

#include <poll.h>
#include <pty.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "agent_integration/json_targets.hpp"
#include "cli/command_lines.hpp"
#include "cli_fixture.hpp"
#include "common/utf8.hpp"

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

// Each shell reads the lines in $COMPLETE_LINES and prints, for each, the words
// it would put on the command line there, one per line, then the line @@end@@.
// Bash's candidates are shell-quoted, so each is read back as the shell would.
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
  # Readline splits the word at its last "=" and puts a candidate in place of
  # what follows it: print the word as it is then.
  cur=${COMP_WORDS[COMP_CWORD]} taken=
  [[ $cur == *=* ]] && taken=${cur%"${cur##*=}"}
  for candidate in "${COMPREPLY[@]}"; do eval "printf '%s\n' $taken$candidate"; done
  echo @@end@@
done
)SH";

const std::string kFishDriver = R"FISH(
source $COMPLETION
for line in (string split \n -- $COMPLETE_LINES)
    if set -q DESCRIPTIONS
        complete -C"$line"
    else
        complete -C"$line" | string replace -r '\t.*' ''
    end
    echo @@end@@
end
)FISH";

// zsh's compadd works only inside its completion system; this one prints
// what the real one would offer for the word under the cursor.
const std::string kZshDriver = R"ZSH(
fpath=("$COMPLETION_FOLDER" $fpath)
autoload -Uz compinit && compinit -u -D
[[ $_comps[murmela-cli] == _murmela-cli ]] || { print -u2 "not registered"; exit 1; }
compadd() {
  local suffix= descriptions= hidden=
  while [[ $1 == -* && $1 != -- ]]; do
    case $1 in
      -S) suffix=$2; shift ;;
      -d) descriptions=$2; shift ;;
      -p) hidden=$2; shift ;;
    esac
    shift
  done
  [[ $1 == -- ]] && shift
  local c i=0
  for c in "$@"; do
    (( i++ ))
    c=$hidden$c
    [[ $c == ${words[CURRENT]}* ]] || continue
    reply+=("$c$suffix")
    [[ -n $descriptions ]] && shown[$c$suffix]=${${(P)descriptions}[i]#*  -- }
  done
}
_files() { reply+=("<files>"); }
for line in "${(@f)COMPLETE_LINES}"; do
  words=(${(z)line})
  [[ $line == *' ' ]] && words+=('')
  CURRENT=${#words}
  reply=()
  typeset -A shown=()
  _murmela-cli
  for r in "${reply[@]}"; do
    if [[ -n $DESCRIPTIONS && -n ${shown[$r]} && ${shown[$r]} != $r ]]; then
      print -r -- "$r"$'\t'"${shown[$r]}"
    else
      print -r -- "$r"
    fi
  done
  print -r -- @@end@@
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

class Completion : public CliTest, public ::testing::WithParamInterface<Shell> {
 protected:
  void SetUp() override {
    if (!fs::exists(GetParam().needs)) GTEST_SKIP() << GetParam().name << " is not installed";
    // The built CLI first on PATH, as an installed one would be.
    env["PATH"] = fs::path(kCliPath).parent_path().string() + ":/usr/bin:/bin";
  }

  // The candidates for each line, the cursor at its end.
  // With `described`, zsh and fish give each candidate as "word\tsummary"
  // where they show a summary beside it.
  std::vector<std::set<std::string>> complete_all(const std::vector<std::string>& lines,
                                                  bool described = false) {
    std::string text;
    for (const auto& line : lines) text += line + "\n";
    text.pop_back();
    auto shell_env = env;
    shell_env["COMPLETE_LINES"] = text;
    shell_env["COMPLETION"] =
        GetParam().name == std::string("fish") ? kFishCompletion : kBashCompletion;
    shell_env["COMPLETION_FOLDER"] = kZshFolder;
    shell_env["TZ"] = "UTC";  // meetings' start times, as the app sent them
    if (described) shell_env["DESCRIPTIONS"] = "1";
    // A completion that hangs fails here with a message, not at ctest's limit.
    std::vector<std::string> arguments{"--kill-after=5", "120", GetParam().program};
    arguments.insert(arguments.end(), GetParam().arguments.begin(), GetParam().arguments.end());
    arguments.push_back(GetParam().script);
    auto result = run_program("/usr/bin/timeout", arguments, {shell_env, "", home.path()});
    EXPECT_NE(result.exit_code, 124) << GetParam().name << " still completed after 120 s";
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(result.err, "");
    std::vector<std::set<std::string>> candidates(1);
    std::istringstream out(result.out);
    for (std::string line; std::getline(out, line);) {
      if (line == "@@end@@") {
        candidates.emplace_back();
      } else {
        candidates.back().insert(line);
      }
    }
    candidates.pop_back();
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
        // --name=value, as the help says options may be written.
        lines.push_back(start + "--" + option.name + "=");
        wanted.emplace_back();
        for (const auto& choice : option.value->choices) {
          wanted.back().insert("--" + option.name + "=" + choice);
        }
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

// Words from the app are data: whatever they hold, completing runs nothing
// and offers each word as it is, leaving out only what a shell word on a
// line cannot carry (a line feed, a tab).
TEST_P(Completion, OffersTheAppsWordsLiterallyAndRunsNothing) {
  const std::string ran = home / "ran";
  const std::vector<std::string> hostile = {"$(touch${IFS}" + ran + "-dollar)",
                                            "`touch " + ran + "-backtick`",
                                            "a;touch " + ran + "-semi",
                                            "${HOME}",
                                            "~root",
                                            "*",
                                            "two words",
                                            "quote\"and\\back",
                                            "-n",
                                            "Gr\u00fc\u00dfe"};
  std::string meetings = "[", settings = "{";
  for (const auto& word : hostile) {
    const std::string quoted = nlohmann::json(word).dump();
    meetings += R"({"id":)" + quoted + "},";
    settings += quoted + ":1,";
  }
  FakeApp app(socket_path());
  app.on_ok("list_meetings", meetings + R"({"id":"line\nfeed"},{"id":"tab\there"},{"id":7}])");
  app.on_ok("get_state", R"({"settings":)" + settings + R"("line\nfeed":1}})");

  const auto candidates = complete_all(
      {"murmela-cli meetings show ", "murmela-cli settings get ", "murmela-cli settings set "});
  std::set<std::string> words(hostile.begin(), hostile.end());
  std::set<std::string> pairs;
  for (const auto& word : hostile) pairs.insert(word + "=");
  words.insert("latest");
  EXPECT_EQ(candidates[0], words);
  words.erase("latest");
  EXPECT_EQ(candidates[1], words);
  EXPECT_EQ(candidates[2], pairs);
  for (const char* suffix : {"-dollar", "-backtick", "-semi"}) {
    EXPECT_FALSE(fs::exists(ran + suffix)) << "completing ran " << suffix;
  }
}

// An app that takes the connection but never answers (busy, or stuck) costs
// the completion about a second, and it offers nothing of the app.
TEST_P(Completion, GivesUpOnAnAppThatNeverAnswers) {
  SilentListener app(socket_path());
  const auto candidates = complete_all({"murmela-cli meetings show ", "murmela-cli settings get "});
  EXPECT_EQ(candidates[0], std::set<std::string>{"latest"});
  EXPECT_EQ(candidates[1], std::set<std::string>{});
}

// A settings key with its "=" typed wants a value, which the app does not
// list: nothing is offered, and never the key a second time.
TEST_P(Completion, OffersNoSecondKeyAfterAKeysEquals) {
  FakeApp app(socket_path());
  app.on_ok("get_state", R"({"settings":{"language":"en","meetingSpeakerLabels":true}})");
  const auto candidates = complete_all(
      {"murmela-cli settings set language=", "murmela-cli settings set meetingSpeakerLabels=",
       "murmela-cli settings set language=de meet"});
  EXPECT_EQ(candidates[0], std::set<std::string>{});
  EXPECT_EQ(candidates[1], std::set<std::string>{});
  EXPECT_EQ(candidates[2], std::set<std::string>{"meetingSpeakerLabels="});
}

// zsh and fish show each meeting's title and start beside its ID, and each
// speech model's name; bash has no place for them and offers the words.
// The app's text is shown, never run, and each completion is one request.
TEST_P(Completion, ShowsWhatEachMeetingAndModelIs) {
  FakeApp app(socket_path());
  app.on_ok("list_meetings",
            R"([{"id":"4f2a","title":"Weekly planning","createdAt":"2026-12-07T09:00:00Z"},)"
            R"J({"id":"9c1b","title":"x\u001b[31m$(touch ran)","createdAt":"yesterday"},)J"
            R"({"id":"77aa"}])");
  app.on_ok("get_model_library",
            R"({"models":[{"id":"tiny","name":"Tiny","kind":"speech","installed":true},)"
            R"({"id":"large-v3","name":"Large v3","kind":"speech","installed":false},)"
            R"({"id":"local-summary","name":"Local summary","kind":"notes"}]})");
  const bool described = GetParam().name != std::string("bash");
  const auto candidates =
      complete_all({"murmela-cli meetings show ", "murmela-cli meetings transcribe 4f2a --model ",
                    "murmela-cli meetings transcribe 4f2a --model=l"},
                   described);
  if (described) {
    EXPECT_EQ(candidates[0],
              (std::set<std::string>{"latest\tthe most recently started meeting",
                                     "4f2a\tWeekly planning \u00b7 2026-12-07 09:00",
                                     "9c1b\tx [31m$(touch ran) \u00b7 yesterday", "77aa"}));
    EXPECT_EQ(candidates[1],
              (std::set<std::string>{"tiny\tTiny", "large-v3\tLarge v3, not installed"}));
    EXPECT_EQ(candidates[2], std::set<std::string>{"--model=large-v3\tLarge v3, not installed"});
  } else {
    EXPECT_EQ(candidates[0], (std::set<std::string>{"latest", "4f2a", "9c1b", "77aa"}));
    EXPECT_EQ(candidates[1], (std::set<std::string>{"tiny", "large-v3"}));
    EXPECT_EQ(candidates[2], std::set<std::string>{"--model=large-v3"});
  }
  EXPECT_EQ(app.commands(),
            (std::vector<std::string>{"list_meetings", "get_model_library", "get_model_library"}));
  EXPECT_FALSE(fs::exists(home / "ran")) << "completing ran a title";
}

TEST_P(Completion, OffersFilesWhereAFileGoes) {
  home.write("talk.wav", "");
  for (const std::string line :
       {"murmela-cli meetings import ta", "murmela-cli meetings set-notes abc --file ta"}) {
    const auto candidates = complete(line);
    EXPECT_TRUE(candidates.contains("talk.wav") || candidates.contains("<files>")) << line;
  }
}

// zsh and fish show the help's summary beside each command and option, as
// gh and kubectl do; bash has no place for one.
TEST_P(Completion, ShowsTheHelpsSummaryBesideEachWord) {
  if (GetParam().name == std::string("bash")) GTEST_SKIP() << "bash shows no descriptions";
  const auto candidates =
      complete_all({"murmela-cli meetings sh", "murmela-cli meetings transcript abc --",
                    "murmela-cli dic", "murmela-cli meetings export abc x.md --"},
                   true);
  EXPECT_TRUE(candidates[0].contains("show\tFull record as JSON")) << *candidates[0].begin();
  EXPECT_TRUE(
      candidates[1].contains("--cleaned\tUse the cleaned transcript (meetings transcript, "
                             "meetings export)"));
  EXPECT_TRUE(candidates[1].contains("--no-launch\tNever start Murmela"));
  EXPECT_TRUE(candidates[2].contains("dictation\tstart, stop, cancel, history, copy-last"));
  EXPECT_TRUE(candidates[3].contains("--format\tone of md, txt, html, pdf, wav"));
}

// What the completions ask the CLI for: the app's words one per line, with
// the app never started and never waited on for long.
class CompletionWords : public CliTest {};

TEST_F(CompletionWords, PrintsTheAppsWordsOnePerLineAndGivesUpOnASilentApp) {
  {
    FakeApp app(socket_path());
    app.on_ok("list_meetings", R"([{"id":"a b"},{"id":"x\ny"},{"title":"no id"},{"id":"c"}])");
    const auto listed = run({"__complete", "ids"});
    EXPECT_EQ(listed.exit_code, 0) << listed.err;
    EXPECT_EQ(listed.out, "a b\nc\n");
    EXPECT_EQ(app.requests(),
              std::vector<std::string>{
                  R"({"version":1,"command":"list_meetings","args":{},"detach":false})"
                  "\n"});
  }
  {
    SilentListener app(socket_path());
    const auto silent = run({"__complete", "keys"});
    EXPECT_EQ(silent.exit_code, 1);
    EXPECT_EQ(silent.out, "");
    EXPECT_EQ(silent.err, "error: Murmela did not reply in time.\n");
  }
  const auto stopped = run({"__complete", "ids"});
  EXPECT_EQ(stopped.exit_code, 3);
  EXPECT_FALSE(fs::exists(socket_path())) << "asking for words started the app";
}

// The lines zsh and fish show: each word, a tab and what it is, bounded in
// number and length, with the app's control characters (bidirectional ones
// too) shown as spaces.
TEST_F(CompletionWords, DescribesMeetingsAndModelsWithinBounds) {
  std::string meetings = R"([{"id":"a","title":")" + std::string(70, 'x') + R"("},)" +
                         R"({"id":")" + std::string(300, 'f') + R"("},)" +
                         R"({"id":"b\tc","title":"tab"},)" +
                         R"({"id":"c","title":"line\nfeed\u0085end\u007f"},)" +
                         R"({"id":"d","title":"txt.\u202efdp \u2067x\u2069\u2028y"},)";
  for (int i = 0; i < 1500; ++i) meetings += R"({"id":"m)" + std::to_string(i) + R"("},)";
  meetings += R"({"id":"last"}])";
  {
    FakeApp app(socket_path());
    app.on_ok("list_meetings", meetings);
    const auto listed = run({"__complete", "meetings"});
    EXPECT_EQ(listed.exit_code, 0) << listed.err;
    std::istringstream out(listed.out);
    std::vector<std::string> lines;
    for (std::string line; std::getline(out, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), 1000u);
    EXPECT_EQ(lines[0], "a\t" + std::string(59, 'x') + "\u2026");
    EXPECT_EQ(lines[1], "c\tline feed end ");
    EXPECT_EQ(lines[2], "d\ttxt. fdp  x  y");
    EXPECT_EQ(lines[3], "m0");
    EXPECT_EQ(app.commands(), std::vector<std::string>{"list_meetings"});
  }
  {
    FakeApp app(socket_path());
    app.on_ok("get_model_library", R"([{"id":"base","name":"Base"},{"id":"x","kind":"notes"}])");
    const auto models = run({"__complete", "models"});
    EXPECT_EQ(models.exit_code, 0) << models.err;
    EXPECT_EQ(models.out, "base\tBase\n");
  }
  SilentListener silent(socket_path());
  const auto late = run({"__complete", "models"});
  EXPECT_EQ(late.exit_code, 1);
  EXPECT_EQ(late.err, "error: Murmela did not reply in time.\n");
}

// What bash's own readline leaves on the line after typing `keys` in an
// interactive bash on a pseudo-terminal, with the completion loaded: Ctrl-T
// prints the line between << and >>.
std::string line_after_typing(const std::string& keys, std::map<std::string, std::string> env,
                              const TempDir& home) {
  const std::string rc = home.write("completion-rc", R"(PS1='READY> '
[ -f /usr/share/bash-completion/bash_completion ] && . /usr/share/bash-completion/bash_completion
. "$COMPLETION"
bind -x '"\C-t": printf "<<%s>>\n" "$READLINE_LINE"'
)");
  env["COMPLETION"] = kBashCompletion;
  env["TERM"] = "dumb";
  winsize size{};
  size.ws_row = 50;
  size.ws_col = 200;
  int controller = -1, terminal = -1;
  if (::openpty(&controller, &terminal, nullptr, nullptr, &size) != 0) return "openpty failed";
  posix_spawn_file_actions_t actions;
  ::posix_spawn_file_actions_init(&actions);
  for (const int fd : {0, 1, 2}) ::posix_spawn_file_actions_adddup2(&actions, terminal, fd);
  ::posix_spawn_file_actions_addclose(&actions, controller);
  ::posix_spawn_file_actions_addchdir_np(&actions, home.path().c_str());
  posix_spawnattr_t attributes;
  ::posix_spawnattr_init(&attributes);
  ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
  SpawnVectors vectors("/bin/bash", {"--noprofile", "--rcfile", rc, "-i"}, env);
  pid_t pid = -1;
  const int spawned =
      ::posix_spawn(&pid, "/bin/bash", &actions, &attributes, vectors.argv(), vectors.envp());
  ::posix_spawn_file_actions_destroy(&actions);
  ::posix_spawnattr_destroy(&attributes);
  ::close(terminal);
  if (spawned != 0) {
    ::close(controller);
    return "spawn failed";
  }
  std::string shown, result = "nothing printed; the terminal showed: ";
  // Reads until `text` shows, at most 20 seconds.
  auto wait_for = [&](std::string_view text) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (shown.find(text) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
      pollfd ready{controller, POLLIN, 0};
      if (::poll(&ready, 1, 100) <= 0) continue;
      char buffer[4096];
      const ssize_t got = ::read(controller, buffer, sizeof buffer);
      if (got <= 0) break;
      shown.append(buffer, static_cast<std::size_t>(got));
    }
    return shown.find(text) != std::string::npos;
  };
  // The prompt shows once readline has the terminal: keys typed before
  // could meet the terminal's own line editing.
  if (wait_for("READY> ")) {
    const std::string typed = keys + "\x14";
    if (::write(controller, typed.data(), typed.size()) == static_cast<ssize_t>(typed.size()) &&
        wait_for(">>")) {
      const auto start = shown.find("<<");
      result = shown.substr(start + 2, shown.find(">>", start) - start - 2);
    } else {
      result += shown;
    }
  } else {
    result += shown;
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
  ::close(controller);
  return result;
}

// Under bash's readline a word with "=" in it is two words: what a
// completion offers there replaces only what follows the "=".
TEST_F(CompletionWords, BashsReadlineCompletesAfterAnEqualsSignOnce) {
  if (!fs::exists("/bin/bash")) GTEST_SKIP() << "bash is not installed";
  FakeApp app(socket_path());
  app.on_ok("get_state", R"({"settings":{"language":"en","meetingSpeakerLabels":true}})");
  env["PATH"] = fs::path(kCliPath).parent_path().string() + ":/usr/bin:/bin";
  EXPECT_EQ(line_after_typing("murmela-cli settings set lang\t", env, home),
            "murmela-cli settings set language=");
  EXPECT_EQ(line_after_typing("murmela-cli settings set language=\t", env, home),
            "murmela-cli settings set language=");
  EXPECT_EQ(line_after_typing("murmela-cli settings set meetingSpeakerLabels=\t", env, home),
            "murmela-cli settings set meetingSpeakerLabels=");
  EXPECT_EQ(line_after_typing("murmela-cli meetings export abc x.pdf --format=p\t", env, home),
            "murmela-cli meetings export abc x.pdf --format=pdf ");
}

// Words that would act on the terminal the shell shows them on are left out,
// and a list of any length gives its newest few thousand at once.
TEST_F(CompletionWords, OffersNoControlsAndAtMostFiveThousandWords) {
  FakeApp app(socket_path());
  std::string list = R"([{"id":"csi\u009b2J"},{"id":"txt.\u202efdp"},{"id":"\u2066x"},)";
  std::string expected;
  for (int i = 0; i < 7000; ++i) {
    const std::string id = "id-" + std::to_string(i);
    list += R"({"id":")" + id + R"("},)";
    if (i < 5000) expected += id + "\n";
  }
  list.back() = ']';
  app.on_ok("list_meetings", list);
  const auto listed = run({"__complete", "ids"});
  EXPECT_EQ(listed.exit_code, 0) << listed.err;
  EXPECT_EQ(listed.out, expected);
}

INSTANTIATE_TEST_SUITE_P(Shells, Completion, ::testing::ValuesIn(kShells),
                         [](const auto& shell) { return std::string(shell.param.name); });

// The manual page: lint-free, and it names every command, exit status,
// variable and file.
TEST(ManPage, RendersWithoutWarningsAndListsWhatItMust) {
  if (!fs::exists("/usr/bin/groff")) GTEST_SKIP() << "groff is not installed";
  // Also set narrow and at the common width of a terminal, where a long
  // usage or path must still break.
  for (const std::vector<std::string>& width :
       {std::vector<std::string>{}, {"-Tutf8", "-rLL=60n"}, {"-Tutf8", "-rLL=80n"}}) {
    std::vector<std::string> arguments{"-man", "-ww", "-z"};
    arguments.insert(arguments.end(), width.begin(), width.end());
    arguments.push_back(kManPage);
    auto lint = run_program("/usr/bin/groff", arguments, {{}, "", ""});
    EXPECT_EQ(lint.exit_code, 0);
    EXPECT_EQ(lint.err, "") << (width.empty() ? "" : width[1]);
  }

  // As a terminal of 60 or 80 columns shows it: no line runs past the edge.
  for (const int columns : {60, 80}) {
    auto shown = run_program(
        "/usr/bin/groff",
        {"-man", "-Tutf8", "-rLL=" + std::to_string(columns) + "n", "-P-cbou", kManPage},
        {{}, "", ""});
    ASSERT_EQ(shown.exit_code, 0) << shown.err;
    std::istringstream lines(shown.out);
    for (std::string line; std::getline(lines, line);) {
      EXPECT_LE(murmela::code_point_count(line), static_cast<std::size_t>(columns))
          << "at " << columns << " columns: " << line;
    }
  }

  // The break points a narrow terminal may use are not part of the text.
  std::string page = read_file_text(kManPage);
  for (auto at = page.find("\\:"); at != std::string::npos; at = page.find("\\:", at)) {
    page.erase(at, 2);
  }
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
  // Every entry says what its command does; help's `typed words` are set
  // as the page sets them.
  for (auto at = page.find(".TP\n\\fB"); at != std::string::npos;
       at = page.find(".TP\n\\fB", at + 1)) {
    const auto text = page.find('\n', page.find('\n', at) + 1) + 1;
    EXPECT_FALSE(page.substr(text).starts_with("\\&\n") || page.substr(text).starts_with(".TP"))
        << "no description for " << page.substr(at + 4, page.find('\n', at + 4) - at - 4);
  }
  EXPECT_EQ(page.find('`'), std::string::npos) << "a backquote shows raw";
  EXPECT_NE(page.find("\\fBlatest\\fR"), std::string::npos);
  for (const std::string text :
       {".SH EXIT STATUS", ".SH EXAMPLES", "murmela\\-cli meetings wait latest", ".B 3", ".B 130",
        ".BR murmela (1)", ".B HOME", ".B XDG_DATA_HOME", ".B CODEX_HOME", ".B PATH", "cli.sock",
        "agent\\-integration.json", "~/.claude.json", "$CODEX_HOME/config.toml"}) {
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

// The stand-in's page: lint-free, and its SYNOPSIS names every option.
TEST(ManPage, TheStandInsPageListsEveryOptionInItsSynopsis) {
  if (!fs::exists("/usr/bin/groff")) GTEST_SKIP() << "groff is not installed";
  const std::string page_path = MURMELA_STAND_IN_PAGE;
  auto lint = run_program("/usr/bin/groff", {"-man", "-ww", "-z", page_path}, {{}, "", ""});
  EXPECT_EQ(lint.exit_code, 0);
  EXPECT_EQ(lint.err, "");
  const std::string page = read_file_text(page_path);
  const std::string synopsis = page.substr(
      page.find(".SH SYNOPSIS"), page.find(".SH DESCRIPTION") - page.find(".SH SYNOPSIS"));
  for (const std::string option :
       {"\\-\\-persist", "\\-\\-ephemeral", "\\-\\-library", "\\-\\-verbose", "\\-\\-help"}) {
    EXPECT_NE(synopsis.find(option), std::string::npos) << option;
  }
}

}  // namespace
