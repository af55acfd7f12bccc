#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <regex>
#include <thread>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "stand_in_fixture.hpp"
#include "terminal_run.hpp"

using namespace testing_support;
using nlohmann::json;

namespace {

// Long jobs at a terminal: a status line on standard error, redrawn in place
// and erased before the result, against the stand-in whose jobs move on only
// when the test steps them.
class Progress : public StandIn {
 protected:
  std::unique_ptr<TerminalRun> at_terminal(std::vector<std::string> args,
                                           const char* term = "xterm", unsigned short columns = 0) {
    args.push_back("--no-launch");
    auto terminal_env = env;
    if (term != nullptr) terminal_env["TERM"] = term;
    return std::make_unique<TerminalRun>(kCliPath, args, terminal_env, home.path(), columns);
  }

  TerminalRun::Ended stepped_to_the_end(TerminalRun& run) {
    for (int i = 0; i < 5000 && run.running(); ++i) {
      step();
      run.read_ready();
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return run.finish();
  }

  std::string first_meeting() { return cli_json({"meetings", "list"})[0]["id"]; }
};

constexpr std::string_view kStopHint = "Ctrl-C stops waiting; the job goes on";

// What stays on the screen once the terminal has played what the CLI wrote:
// its lines, with the cursor moves and erasures the progress line uses
// (carriage return, line feed, erase to the end of the line, one line up).
std::string left_on_screen(const std::string& terminal) {
  std::vector<std::string> rows{""};
  std::size_t row = 0, column = 0;
  for (std::size_t i = 0; i < terminal.size(); ++i) {
    if (terminal.compare(i, 3, "\x1b[K") == 0) {
      rows[row].resize(std::min(rows[row].size(), column));
      i += 2;
    } else if (terminal.compare(i, 3, "\x1b[A") == 0) {
      row -= row > 0 ? 1 : 0;
      i += 2;
    } else if (terminal[i] == '\r') {
      column = 0;
    } else if (terminal[i] == '\n') {
      if (++row == rows.size()) rows.emplace_back();
    } else {
      if (rows[row].size() <= column) rows[row].resize(column + 1, ' ');
      rows[row][column++] = terminal[i];
    }
  }
  std::string screen;
  for (const auto& line : rows) {
    if (!line.empty()) screen += line + "\n";
  }
  return screen;
}

TEST_F(Progress, ABlockingJobShowsItsStatusThenLeavesTheScreenAsBefore) {
  const std::string id = first_meeting();
  auto run = at_terminal({"meetings", "transcribe", id});
  ASSERT_TRUE(run->wait_for_terminal("\r\x1b[Ktranscribing 0:0"));
  const auto ended = stepped_to_the_end(*run);

  EXPECT_EQ(ended.exit_code, 0) << ended.terminal;
  auto summary = json::parse(ended.out);
  EXPECT_EQ(summary["id"], id);
  EXPECT_EQ(summary["status"], "ready");
  EXPECT_NE(ended.terminal.find(std::string(kStopHint) + "\r\n"), std::string::npos)
      << ended.terminal;
  EXPECT_EQ(ended.terminal.find(kStopHint), ended.terminal.rfind(kStopHint)) << "said once";
  EXPECT_EQ(left_on_screen(ended.terminal), "") << ended.terminal;
}

// The line names the meeting; an interrupt leaves the hint and two short
// lines: how to follow the job, how to stop it.
TEST_F(Progress, WaitNamesTheMeetingAndAnInterruptTellsHowToFollowTheJob) {
  const json meeting = cli_json({"meetings", "list"})[0];
  const std::string id = meeting["id"], title = meeting["title"];
  cli_json({"meetings", "transcribe", id, "--detach"});
  auto run = at_terminal({"meetings", "wait", id.substr(0, 6)});
  ASSERT_TRUE(run->wait_for_terminal("transcribing 0:0"));
  ASSERT_TRUE(run->wait_for_terminal(" \u00B7 " + title));
  run->interrupt();
  const auto ended = run->finish();

  EXPECT_EQ(ended.signal, SIGINT);
  EXPECT_EQ(ended.out, "");
  EXPECT_EQ(left_on_screen(ended.terminal),
            std::string(kStopHint) + "\nFollow the job: murmela-cli meetings wait " + id +
                "\nStop the job:   murmela-cli meetings cancel " + id + "\n")
      << ended.terminal;
  EXPECT_EQ(cli_json({"meetings", "show", id})["status"], "transcribing");
}

// The title is cut to the terminal's width, and its control characters
// never reach the terminal: they could move the cursor or retitle the window.
TEST_F(Progress, TheTitleFitsTheTerminalAndShowsNoControlCharacters) {
  const std::string id = first_meeting();
  cli_json({"meetings", "rename", id,
            "Budget\x1b]0;owned\x07 review\tfor the whole of next year and the one after"});
  cli_json({"meetings", "transcribe", id, "--detach"});
  auto run = at_terminal({"meetings", "wait", id}, "xterm", 40);
  ASSERT_TRUE(run->wait_for_terminal("transcribing 0:0"));
  run->interrupt();
  const auto ended = run->finish();

  EXPECT_EQ(ended.terminal.find("\x1b]"), std::string::npos) << ended.terminal;
  EXPECT_EQ(ended.terminal.find('\x07'), std::string::npos) << ended.terminal;
  std::smatch line;
  ASSERT_TRUE(std::regex_search(ended.terminal, line,
                                std::regex("transcribing [0-9]:[0-9]{2} \u00B7 [^\r]*")))
      << ended.terminal;
  // 39 characters: the last column stays free.
  EXPECT_EQ(line.str().substr(17), " \u00B7 Budget]0;owned rev\u2026") << line.str();
}

// Ended by anything but an interrupt, the CLI takes the line away and says
// nothing more, then ends by that signal as it would without the line.
TEST_F(Progress, OtherEndingSignalsEraseTheLineToo) {
  const std::string id = first_meeting();
  cli_json({"meetings", "transcribe", id, "--detach"});
  for (const int signal : {SIGTERM, SIGHUP, SIGQUIT}) {
    auto run = at_terminal({"meetings", "wait", id});
    ASSERT_TRUE(run->wait_for_terminal("transcribing 0:0")) << strsignal(signal);
    run->send(signal);
    const auto ended = run->finish();
    EXPECT_EQ(ended.signal, signal);
    EXPECT_TRUE(ended.terminal.ends_with("\x1b[K")) << strsignal(signal) << ": " << ended.terminal;
    EXPECT_EQ(left_on_screen(ended.terminal), "") << strsignal(signal);
  }
}

// An app that takes requests and never answers: the CLI waits as long as
// the test wants, whatever the command.
class SilentApp : public CliTest {
 protected:
  int listener = -1;

  void SetUp() override {
    std::filesystem::create_directories(data_folder());
    listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socket_path().c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 8), 0);
  }
  void TearDown() override { ::close(listener); }
};

TEST_F(SilentApp, AnInterruptedJobWhoseMeetingIsNotKnownYetPointsToTheList) {
  auto run = TerminalRun(
      kCliPath, {"meetings", "import", "talk.wav", "--no-launch"},
      [&] {
        auto e = env;
        e["TERM"] = "xterm";
        return e;
      }(),
      home.path());
  ASSERT_TRUE(run.wait_for_terminal("\r\x1b[Kimporting 0:0"));
  run.interrupt();
  const auto ended = run.finish();
  EXPECT_EQ(ended.signal, SIGINT);
  EXPECT_EQ(left_on_screen(ended.terminal),
            std::string(kStopHint) +
                "\nFollow the job: murmela-cli meetings list, then murmela-cli meetings wait <id>"
                "\nStop the job:   murmela-cli meetings cancel <id>\n");
}

// A meeting ID is the app's text: on the interrupt line it shows, escaped,
// and cannot retitle the terminal or clear its screen.
class InterruptLine : public CliTest {};

TEST_F(InterruptLine, ShowsTheAppsMeetingIdEscaped) {
  FakeApp app(socket_path());
  app.on_ok("list_meetings", R"([{"id":"abc\u001b]0;owned\u0007\u001b[2J\u009b\u202e"}])");
  app.on_ok("get_meeting", R"({"id":"abc","status":"transcribing"})");
  auto terminal_env = env;
  terminal_env["TERM"] = "xterm";
  TerminalRun run(kCliPath, {"meetings", "wait", "abc", "--no-launch"}, terminal_env, home.path());
  ASSERT_TRUE(run.wait_for_terminal("\r\x1b[Ktranscribing 0:0"));
  run.interrupt();
  const auto ended = run.finish();
  EXPECT_EQ(ended.signal, SIGINT);
  const std::string shown = "abc\\x1b]0;owned\\x07\\x1b[2J\\u009b\\u202e";
  EXPECT_EQ(left_on_screen(ended.terminal),
            std::string(kStopHint) + "\nFollow the job: murmela-cli meetings wait " + shown +
                "\nStop the job:   murmela-cli meetings cancel " + shown + "\n")
      << ended.terminal;
}

// Where the line cannot be drawn, or nobody looks, nothing changes at all.
TEST_F(Progress, NoLineWithoutATerminalThatCanRedraw) {
  const std::string id = first_meeting();
  for (const char* term : {static_cast<const char*>(nullptr), "dumb"}) {
    auto run = at_terminal({"meetings", "transcribe", id}, term);
    const auto ended = stepped_to_the_end(*run);
    EXPECT_EQ(ended.exit_code, 0);
    EXPECT_EQ(ended.terminal, "") << (term ? term : "no TERM");
  }
  const auto piped = run_stepping({"meetings", "transcribe", id});
  EXPECT_EQ(piped.exit_code, 0);
  EXPECT_EQ(piped.err, "");
  EXPECT_EQ(json::parse(piped.out)["status"], "ready");
}

}  // namespace
