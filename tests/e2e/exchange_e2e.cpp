#include <gtest/gtest.h>

#include "cli_fixture.hpp"

using namespace testing_support;
using namespace std::string_literals;

namespace {

class Exchange : public CliTest {};

TEST_F(Exchange, RequestBytesAndPrettyOutput) {
  FakeApp app(socket_path());
  app.on_ok("get_model_library", R"({"z":[1,2.5,1e2],"a":"K\u00e4se \"q\"","m":{}})");
  auto run = this->run({"models", "list", "--detach"});
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out,
            "{\n  \"a\": \"K\xC3\xA4se \\\"q\\\"\",\n  \"m\": {},\n  \"z\": [\n    1,\n    2.5,\n"
            "    100.0\n  ]\n}\n");
  EXPECT_EQ(app.requests(),
            std::vector<std::string>{
                "{\"version\":1,\"command\":\"get_model_library\",\"args\":{},\"detach\":true}\n"});
}

TEST_F(Exchange, InvokeSendsArgsWithSortedKeysAndEscapes) {
  FakeApp app(socket_path());
  auto run = this->run({"invoke", "get_meeting", R"({"id":"a\u0001/\u00e4","b":[true]})"});
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.out, "null\n");
  EXPECT_EQ(app.requests()[0],
            "{\"version\":1,\"command\":\"get_meeting\",\"args\":{\"b\":[true],\"id\":\"a\\u0001/"
            "\xC3\xA4\"},"
            "\"detach\":false}\n");
}

TEST_F(Exchange, InvokeSendsNumbersInTheShortestForm) {
  FakeApp app(socket_path());
  auto run = this->run({"invoke", "x", R"({"n":0.928286,"m":1e-7,"k":100})"});
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(app.requests()[0],
            "{\"version\":1,\"command\":\"x\",\"args\":{\"k\":100,\"m\":1e-7,\"n\":0.928286},"
            "\"detach\":false}\n");
}

TEST_F(Exchange, InvokeAndSettingsRefuseWhatIsNotOneJsonDocument) {
  FakeApp app(socket_path());
  app.on_ok("get_state", R"({"settings":{"language":"en"}})");
  for (const std::string& text : {"\xEF\xBB\xBF{}"s, "{} {}"s, "{}\v"s, std::string(2000, '[')}) {
    auto run = this->run({"invoke", "x", text});
    EXPECT_EQ(run.exit_code, 2) << text;
    EXPECT_TRUE(run.err.starts_with("error: Arguments must be a JSON object: ")) << run.err;
  }
  // A settings value that is not JSON is taken as text, a byte order mark included.
  auto run = this->run({"settings", "set", "language=\xEF\xBB\xBF\"de\""});
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_NE(app.requests().back().find("\"language\":\"\xEF\xBB\xBF\\\"de\\\"\""),
            std::string::npos)
      << app.requests().back();
}

// Half a surrogate pair stands for no character, and U+FFFD in its place
// would be another value: invoke refuses it before anything is sent, and
// settings set keeps the word as text.
TEST_F(Exchange, LoneSurrogatesAreNeverChangedIntoAnotherCharacter) {
  FakeApp app(socket_path());
  app.on_ok("get_state", R"({"settings":{"k":"x"}})");
  for (const std::string text : {R"("\ud800")", R"({"a":["\udfff"]})", R"({"\ud83d":1})"}) {
    auto refused = run({"invoke", "x", text});
    EXPECT_EQ(refused.exit_code, 2) << text;
    EXPECT_TRUE(refused.err.starts_with(
        "error: Arguments must be a JSON object: lone surrogate in a \\u escape at line 1, "))
        << refused.err;
  }
  EXPECT_TRUE(app.requests().empty());

  EXPECT_EQ(run({"invoke", "x", R"({"s":"\ud83d\ude00"})"}).exit_code, 0);
  EXPECT_EQ(app.requests().back(),
            "{\"version\":1,\"command\":\"x\",\"args\":{\"s\":\"\xF0\x9F\x98\x80\"},"
            "\"detach\":false}\n");
  auto set = run({"settings", "set", R"(k="\ud800")"});
  EXPECT_EQ(set.exit_code, 0) << set.err;
  EXPECT_EQ(app.requests().back(),
            R"({"version":1,"command":"save_settings","args":{"settings":{"k":"\"\\ud800\""}},)"
            "\"detach\":false}\n");
}

// settings set sends every setting back: one the app gave with a lone
// surrogate escape would go back changed, so nothing is sent unless the
// command replaces it.
TEST_F(Exchange, SettingsSetNeverSendsBackAChangedSetting) {
  FakeApp app(socket_path());
  app.on_ok("get_state", R"({"settings":{"k":"x","odd":"a\udc00"}})");
  auto refused = run({"settings", "set", "k=1"});
  EXPECT_EQ(refused.exit_code, 1);
  EXPECT_EQ(refused.err,
            "error: The setting `odd` holds a lone surrogate escape and cannot be sent back "
            "unchanged.\n");
  EXPECT_EQ(app.commands(), std::vector<std::string>{"get_state"});

  auto replaced = run({"settings", "set", "odd=b", "k=1"});
  EXPECT_EQ(replaced.exit_code, 0) << replaced.err;
  EXPECT_EQ(app.requests().back(),
            R"({"version":1,"command":"save_settings","args":{"settings":{"k":1,"odd":"b"}},)"
            "\"detach\":false}\n");
}

struct ReplyCase {
  const char* name;
  FakeReply reply;
  int exit_code;
  std::string out;
  std::string err;  // whole stderr, or a prefix when it ends with "..."
};

TEST_F(Exchange, EveryReplyShape) {
  const std::vector<ReplyCase> cases = {
      {"result", FakeReply::raw("{\"ok\":true,\"result\":[1,2]}\n"), 0, "[\n  1,\n  2\n]\n", ""},
      {"bare string", FakeReply::ok("\"hi\""), 0, "\"hi\"\n", ""},
      {"array envelope", FakeReply::raw("[true,{\"a\":1},null]\n"), 0, "{\n  \"a\": 1\n}\n", ""},
      {"split across writes", FakeReply::split({"{\"ok\":tr", "ue,\"res", "ult\":7}\n"}), 0, "7\n",
       ""},
      {"bytes after the line feed", FakeReply::raw("{\"ok\":true,\"result\":1}\ngarbage"), 0, "1\n",
       ""},
      {"no line feed at all", FakeReply::raw("{\"ok\":true,\"result\":2}"), 0, "2\n", ""},
      {"app error", FakeReply::error("\"No such meeting.\""), 1, "", "error: No such meeting.\n"},
      {"empty app error", FakeReply::error("\"\""), 1, "", "error: \n"},
      // The app's words cannot act on a terminal, nor forge a line of their own.
      {"app error with controls",
       FakeReply::error(R"("Busy.\nerror: forged\u001b]0;owned\u0007\u001b[2J\u009b\u202e")"), 1,
       "", "error: Busy.\\x0aerror: forged\\x1b]0;owned\\x07\\x1b[2J\\u009b\\u202e\n"},
      {"result with controls", FakeReply::ok(R"("a\u001b[2J\n\u202e")"), 0,
       "\"a\\u001b[2J\\n\u202e\"\n", ""},
      {"unknown error", FakeReply::raw("{\"ok\":false,\"error\":null}\n"), 1, "",
       "error: Murmela reported an unknown error.\n"},
      {"closed without reply", FakeReply::close(), 1, "",
       "error: Murmela closed the connection without replying.\n"},
      {"blank reply", FakeReply::raw("  \n"), 1, "",
       "error: Murmela closed the connection without replying.\n"},
      {"garbage", FakeReply::raw("garbage\n"), 1, "",
       "error: Murmela sent an unreadable reply: ..."},
      {"repeated member", FakeReply::raw("{\"ok\":true,\"ok\":true}\n"), 1, "",
       "error: Murmela sent an unreadable reply: ..."},
      {"no ok", FakeReply::raw("{\"result\":1}\n"), 1, "",
       "error: Murmela sent an unreadable reply: ..."},
      {"not UTF-8", FakeReply::raw("{\"ok\":true,\"result\":\"\xFF\"}\n"), 1, "",
       "error: Murmela closed the connection: stream did not contain valid UTF-8\n"},
      // A stream fault wins over a JSON or envelope fault anywhere in the line.
      {"not UTF-8 after bad JSON", FakeReply::raw("{\"ok\":tru,\"result\":\"\xC3\"}\n"), 1, "",
       "error: Murmela closed the connection: stream did not contain valid UTF-8\n"},
      {"not UTF-8 and no ok", FakeReply::raw("{\"result\":\"\xED\xA0\x80\"}\n"), 1, "",
       "error: Murmela closed the connection: stream did not contain valid UTF-8\n"},
      {"not UTF-8 outside a string", FakeReply::raw("{\"ok\":true}\xFF\n"), 1, "",
       "error: Murmela closed the connection: stream did not contain valid UTF-8\n"},
      {"NUL after the reply", FakeReply::raw("{\"ok\":true,\"result\":1}\0garbage\n"s), 1, "",
       "error: Murmela sent an unreadable reply: trailing characters at line 1, column 23\n"},
      {"byte order mark", FakeReply::raw("\xEF\xBB\xBF{\"ok\":true}\n"), 1, "",
       "error: Murmela sent an unreadable reply: ..."},
      {"100,000 levels", FakeReply::ok(std::string(100000, '[') + std::string(100000, ']')), 1, "",
       "error: Murmela sent an unreadable reply: recursion limit exceeded at line 1, column "
       "1020\n"},
      {"numbers", FakeReply::ok("[123456789012345678901234567890,0.928286,1e-7,1e16,-0.0]"), 0,
       "[\n  123456789012345678901234567890,\n  0.928286,\n  1e-7,\n  1e16,\n  -0.0\n]\n", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeApp app(socket_path());
    app.on("ping", c.reply);
    auto run = this->run({"ping"});
    EXPECT_EQ(run.exit_code, c.exit_code);
    EXPECT_EQ(run.out, c.out);
    if (c.err.ends_with("...")) {
      EXPECT_TRUE(run.err.starts_with(c.err.substr(0, c.err.size() - 3))) << run.err;
      EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1);
    } else {
      EXPECT_EQ(run.err, c.err);
    }
  }
}

// A reply far longer than the first read, in pieces of every size, arrives
// whole and in order however the line grows.
TEST_F(Exchange, ALongReplyInManyPiecesArrivesWhole) {
  FakeApp app(socket_path());
  std::string text;
  for (int i = 0; text.size() < 3 * 1024 * 1024; ++i) text += std::to_string(i) + ' ';
  const std::string line = "{\"ok\":true,\"result\":\"" + text + "\"}\n";
  std::vector<std::string> pieces;
  for (std::size_t at = 0, size = 1; at < line.size(); at += size, size = size * 3 % 200003 + 1)
    pieces.push_back(line.substr(at, size));
  app.on("ping", FakeReply::split(pieces));
  auto run = this->run({"ping"});
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_TRUE(run.out == "\"" + text + "\"\n") << run.out.substr(0, 200);
}

// The CLI reads a reply of up to 32 MiB, its line feed included; a longer
// one is cut there, and the error says that it was too large rather than
// where the cut text stopped parsing.
TEST_F(Exchange, ReplyLargerThanTheCapIsCutAndSaysSo) {
  constexpr std::size_t kCap = 32 * 1024 * 1024;
  const std::string start = "{\"ok\":true,\"result\":\"";
  const std::string end = "\"}\n";
  // Reading stops at the cap as at the end of the stream: a document that
  // fits is read whole even when only its line feed is past the cap.
  for (const std::size_t beyond : {0, 1}) {
    FakeApp app(socket_path());
    const std::size_t length = kCap - start.size() - end.size() + beyond;
    app.on("ping", FakeReply::raw(start + std::string(length, 'x') + end));
    auto run = this->run({"ping"});
    EXPECT_EQ(run.exit_code, 0) << beyond << run.err;
    EXPECT_EQ(run.out.size(), length + 3) << beyond;
  }
  for (const std::size_t beyond : {2, 1024 * 1024}) {
    FakeApp app(socket_path());
    app.on("ping", FakeReply::raw(
                       start + std::string(kCap - start.size() - end.size() + beyond, 'x') + end));
    auto run = this->run({"ping"});
    EXPECT_EQ(run.exit_code, 1) << beyond;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err,
              "error: Murmela sent an unreadable reply: it is larger than the 32 MiB that "
              "murmela-cli reads.\n")
        << beyond;
  }
}

// Output that could not be written is a failure, never exit 0; a reader
// that goes away ends the program quietly.
TEST_F(Exchange, LostOutputIsAFailure) {
  FakeApp app(socket_path());
  app.on_ok("list_meetings", "[" + std::string(100000, '1') + "]");
  auto full = run_program("/bin/sh", {"-c", "\"$0\" meetings list > /dev/full", cli},
                          {env, "", home.path()});
  EXPECT_EQ(full.exit_code, 1);
  EXPECT_EQ(full.err, "error: Cannot write the output: No space left on device (os error 28)\n");
  auto closed = run_program("/bin/sh", {"-c", "\"$0\" meetings list | head -c 1 >/dev/null", cli},
                            {env, "", home.path()});
  EXPECT_EQ(closed.err, "");
  EXPECT_EQ(closed.exit_code, 0);
}

TEST_F(Exchange, NotRunningWithNoLaunch) {
  auto run = this->run({"status", "--no-launch"});
  EXPECT_EQ(run.exit_code, 3);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "error: Murmela is not running (No such file or directory (os error 2)).\n");
}

TEST_F(Exchange, QuitNeverStartsTheApp) {
  auto run = this->run({"quit"});
  EXPECT_EQ(run.exit_code, 3);
  EXPECT_EQ(run.err, "error: Murmela is not running (No such file or directory (os error 2)).\n");
}

TEST_F(Exchange, SocketPathTooLongIsUnreachable) {
  env["HOME"] = home.mkdir(std::string(100, 'h'));
  auto run = this->run({"ping", "--no-launch"});
  EXPECT_EQ(run.exit_code, 3);
  EXPECT_EQ(run.err, "error: Murmela is not running (path must be shorter than SUN_LEN).\n");
}

TEST_F(Exchange, DataFolderFollowsXdgDataHomeOnlyWhenAbsolute) {
  env["XDG_DATA_HOME"] = home / "xdg";
  {
    FakeApp app(home / "xdg/Murmela/cli.sock");
    EXPECT_EQ(run({"ping"}).exit_code, 0);
  }
  env["XDG_DATA_HOME"] = "relative";
  FakeApp app(socket_path());
  EXPECT_EQ(run({"ping"}).exit_code, 0);
}

TEST_F(Exchange, EmptyHomeGivesARelativeDataFolder) {
  env["HOME"] = "";
  FakeApp app(home / ".local/share/Murmela/cli.sock");
  EXPECT_EQ(run({"ping"}, "", home.path()).exit_code, 0);
}

TEST_F(Exchange, UsageErrorsPrintTheHintAndSendNothing) {
  FakeApp app(socket_path());
  for (auto args : {std::vector<std::string>{"Status"}, {"--title"}, {"invoke", "x", "{"}}) {
    auto run = this->run(args);
    EXPECT_EQ(run.exit_code, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(run.err.ends_with("\nRun `murmela-cli help` for usage.\n")) << run.err;
  }
  EXPECT_TRUE(app.requests().empty());
}

TEST_F(Exchange, TextsNeedNoApp) {
  auto help = run({"--help"});
  EXPECT_EQ(help.exit_code, 0);
  // The help as it must read, byte for byte; a change shows as a diff.
  EXPECT_EQ(help.out, read_file_text(MURMELA_GOLDEN_DIR "/help.txt"));
  EXPECT_EQ(run({}).out, help.out);
  EXPECT_EQ(run({"version", "--detach"}).out, "murmela-cli 0.28.8 (protocol 1)\n");
  auto guide = run({"guide"});
  EXPECT_EQ(guide.out, run({"-h", "agents"}).out);
  EXPECT_NE(guide.out.find("\nCLI: " + cli + "\n"), std::string::npos);
  EXPECT_EQ(guide.out.size(), 180 + cli.size() + 1674);
}

TEST_F(Exchange, GuideShowsTheLinkThePathWasStartedBy) {
  const std::string link = home / "bin/murmela-cli";
  std::filesystem::create_directories(home / "bin");
  std::filesystem::create_symlink(cli, link);
  auto guide = run_program(link, {"guide"}, {env, "", home.path()});
  EXPECT_NE(guide.out.find("\nCLI: " + link + "\n"), std::string::npos);
}

}  // namespace
