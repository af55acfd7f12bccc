#include <gtest/gtest.h>

#include "cli_fixture.hpp"

using namespace testing_support;

namespace {

const std::string kId = "0123456789abcdef0123456789abcdef";
const std::string kList = R"([{"id":")" + kId + R"("},{"id":"fedcba9876543210fedcba9876543210"}])";

std::string request(const std::string& command, const std::string& args, bool detach = false) {
  return R"({"version":1,"command":")" + command + R"(","args":)" + args + R"(,"detach":)" +
         (detach ? "true" : "false") + "}\n";
}

const std::string kLookup = request("list_meetings", "{}");

struct Case {
  std::vector<std::string> args;
  std::vector<std::string> requests;
};

class Meetings : public CliTest {
 protected:
  void check(const std::vector<Case>& cases) {
    for (const auto& c : cases) {
      std::string line;
      for (const auto& a : c.args) line += a + " ";
      SCOPED_TRACE(line);
      FakeApp app(socket_path());
      app.on_ok("list_meetings", kList);
      app.on_ok(
          "get_meeting",
          R"({"id":")" + kId + R"(","title":"T","transcript":"x","notes":"n","status":"ready"})");
      auto run = this->run(c.args, "", home.path());
      EXPECT_EQ(run.exit_code, 0) << run.err;
      EXPECT_EQ(app.requests(), c.requests);
    }
  }
};

TEST_F(Meetings, RequestBytesOfEverySubcommand) {
  const std::string id = R"("id":")" + kId + R"(")";
  const std::string home_path = home.path();
  check({
      {{"meetings"}, {request("list_meetings", "{}")}},
      {{"meeting", "list", "--detach"}, {request("list_meetings", "{}", true)}},
      {{"meetings", "show", "0123", "--detach"},
       {kLookup, request("get_meeting", "{" + id + "}", true)}},
      {{"meetings", "show", kId}, {request("get_meeting", "{" + id + "}")}},
      {{"meetings", "transcript", "latest"}, {kLookup, request("get_meeting", "{" + id + "}")}},
      {{"meetings", "notes", kId, "--detach"}, {request("get_meeting", "{" + id + "}")}},
      {{"meetings", "speakers", kId}, {request("meeting_speakers", "{" + id + "}")}},
      {{"meetings", "record", "start"},
       {request("start_meeting", R"({"source":"both","title":""})")}},
      {{"meetings", "record", "start", "--source=line-in", "--title", "Q&A", "--detach"},
       {request("start_meeting", R"({"source":"line-in","title":"Q&A"})", true)}},
      {{"meetings", "record", "stop"}, {request("stop_meeting", "{}")}},
      {{"meetings", "import", "../a b.m4a"},
       {request("import_media", R"({"path":")" + home_path + R"(/../a b.m4a"})")}},
      {{"meetings", "import", "~/talk.m4a"},
       {request("import_media", R"({"path":")" + home_path + R"(/~/talk.m4a"})")}},
      {{"meetings", "import", "/tmp/talk.m4a"},
       {request("import_media", R"({"path":"/tmp/talk.m4a"})")}},
      {{"meetings", "join", "0123", "fed", kId},
       {kLookup, kLookup,
        request("join_meetings", R"({"ids":[")" + kId +
                                     R"(","fedcba9876543210fedcba9876543210",")" + kId +
                                     R"("],"title":null})")}},
      {{"meetings", "join", kId, kId, "--title", "Call"},
       {request("join_meetings", R"({"ids":[")" + kId + R"(",")" + kId + R"("],"title":"Call"})")}},
      {{"meetings", "transcribe", kId},
       {request("transcribe_meeting", "{" + id + R"(,"model":null})")}},
      {{"meetings", "transcribe", kId, "--model", "large", "--detach"},
       {request("transcribe_meeting", "{" + id + R"(,"model":"large"})", true)}},
      {{"meetings", "cancel", kId}, {request("cancel_meeting", "{" + id + "}")}},
      {{"meetings", "rename", kId, ""},
       {request("get_meeting", "{" + id + "}"),
        request("save_meeting", "{" + id + R"(,"notes":"n","title":"","transcript":"x"})")}},
      {{"meetings", "set-notes", kId, "--text", "line\r\n"},
       {request("get_meeting", "{" + id + "}"),
        request("save_meeting",
                "{" + id + R"(,"notes":"line\r\n","title":"T","transcript":"x"})")}},
      {{"meetings", "rename-speaker", kId, "Speaker 2", "Mara Quillon"},
       {request("rename_meeting_speaker",
                R"({"from":"Speaker 2",)" + id + R"(,"to":"Mara Quillon"})")}},
      {{"meetings", "labels", kId, "off"},
       {request("set_meeting_speaker_labels",
                R"({"confirmed":false,"enabled":false,)" + id + "}")}},
      {{"meetings", "labels", kId, "on", "--confirm"},
       {request("set_meeting_speaker_labels", R"({"confirmed":true,"enabled":true,)" + id + "}")}},
      {{"meetings", "clean", kId}, {request("clean_meeting", "{" + id + "}")}},
      {{"meetings", "generate-notes", kId},
       {request("generate_notes", "{" + id + R"(,"instructions":"","preset":"summary"})")}},
      {{"meetings", "generate-notes", kId, "--preset", "formatted-transcript", "--instructions",
        "short"},
       {request("generate_notes",
                "{" + id + R"(,"instructions":"short","preset":"formattedTranscript"})")}},
      {{"meetings", "delete", kId, "--yes"}, {request("delete_meeting", "{" + id + "}")}},
      {{"meetings", "export", "latest", "call.HTM", "--detach"},
       {kLookup,
        request("export_meeting", R"({"format":"html",)" + id + R"(,"path":")" + home_path +
                                      R"(/call.HTM","transcriptVersion":"recognized"})")}},
      {{"meetings", "export", kId, "/tmp/x.md", "--format", "audio", "--cleaned"},
       {request("export_meeting", R"({"format":"wav",)" + id +
                                      R"(,"path":"/tmp/x.md","transcriptVersion":"cleaned"})")}},
      {{"meetings", "export-audio", kId, "rec.mp3", "--format", "bogus"},
       {request("export_meeting_audio", "{" + id + R"(,"path":")" + home_path + R"(/rec.mp3"})")}},
  });
}

TEST_F(Meetings, TranscriptAndNotesPrintPlainText) {
  FakeApp app(socket_path());
  app.on_ok("get_meeting", R"({"transcript":"Speaker 1: Hi\nSpeaker 2: Hello","notes":null})");
  EXPECT_EQ(run({"meetings", "transcript", kId}).out, "Speaker 1: Hi\nSpeaker 2: Hello\n");
  EXPECT_EQ(run({"meetings", "transcript", kId, "--cleaned"}).out, "\n");
  auto notes = run({"meetings", "notes", kId});
  EXPECT_EQ(notes.exit_code, 0);
  EXPECT_EQ(notes.out, "\n");
}

TEST_F(Meetings, ExportPrintsWhatItWrote) {
  FakeApp app(socket_path());
  app.on_ok("export_meeting", R"({"ignored":true})");
  app.on_ok("export_meeting_audio", "null");
  auto run = this->run({"meetings", "export", kId, "call.md"}, "", home.path());
  EXPECT_EQ(run.out,
            "{\n  \"exported\": \"" + home / "call.md" + "\",\n  \"format\": \"markdown\"\n}\n");
  auto audio = this->run({"meetings", "export-audio", kId, "/tmp/a.wav"});
  EXPECT_EQ(audio.out, "{\n  \"exported\": \"/tmp/a.wav\"\n}\n");
}

TEST_F(Meetings, FormatIsCheckedBeforeTheIdIsResolved) {
  FakeApp app(socket_path());
  auto run = this->run({"meetings", "export", "ambiguous", "x.HTM", "--format", "HTM"});
  EXPECT_EQ(run.exit_code, 2);
  EXPECT_EQ(run.err,
            "error: Unknown export format `HTM`. Use md, txt, html, pdf or wav.\n"
            "Run `murmela-cli help` for usage.\n");
  EXPECT_TRUE(app.requests().empty());
}

TEST_F(Meetings, ResolutionErrorsStopBeforeTheCommand) {
  FakeApp app(socket_path());
  app.on_ok("list_meetings", kList);
  auto ambiguous = run({"meetings", "wait", "", "--timeout", "bad"});
  EXPECT_EQ(ambiguous.exit_code, 1);
  EXPECT_EQ(ambiguous.err, "error: `` matches 2 meetings; use more characters.\n");
  auto none = run({"meetings", "show", "zz"});
  EXPECT_EQ(none.err, "error: No meeting ID starts with `zz`. Run `murmela-cli meetings list`.\n");
  EXPECT_EQ(app.commands(), (std::vector<std::string>{"list_meetings", "list_meetings"}));
}

TEST_F(Meetings, WaitPollsUntilTheJobIsOver) {
  FakeApp app(socket_path());
  app.on_ok("get_meeting", R"({"status":"transcribing"})");
  app.on_ok("get_meeting", R"({"status":"ready","transcript":"abc","notes":"","id":"x"})");
  auto run = this->run({"meetings", "wait", kId});
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(app.requests(),
            std::vector<std::string>(2, request("get_meeting", R"({"id":")" + kId + R"("})")));
  EXPECT_NE(run.out.find("\"transcriptChars\": 3"), std::string::npos);
}

TEST_F(Meetings, WaitOutcomes) {
  struct WaitCase {
    std::string reply;
    std::vector<std::string> extra;
    int exit_code;
    std::string err;
    bool summary;
  };
  const std::vector<WaitCase> cases = {
      {R"({"status":"transcribing"})",
       {"--timeout", "0"},
       1,
       "error: Still transcribing after 0 s.\n",
       false},
      {R"({"status":"done"})", {"--timeout", "0"}, 0, "", true},
      {R"({"title":"no status"})", {}, 0, "", true},
      {R"({"status":"failed","error":"Model missing."})", {}, 1, "error: Model missing.\n", true},
      {R"({"status":"failed","error":42})", {}, 1, "error: The operation failed.\n", true},
      {R"({"status":"ready"})",
       {"--timeout", "-5"},
       2,
       "error: --timeout is a number of seconds.\nRun `murmela-cli help` for usage.\n",
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reply);
    FakeApp app(socket_path());
    app.on_ok("get_meeting", c.reply);
    std::vector<std::string> args{"meetings", "wait", kId};
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    auto run = this->run(args);
    EXPECT_EQ(run.exit_code, c.exit_code);
    EXPECT_EQ(run.err, c.err);
    EXPECT_EQ(run.out.find("\"transcriptChars\": 0") != std::string::npos, c.summary) << run.out;
  }
}

// Every status the app reports while a job runs keeps `wait` waiting (here
// with no time to wait, so it says so); any other status ends the wait.
TEST_F(Meetings, WaitWaitsThroughEveryBusyStatusAndNoOther) {
  struct StatusCase {
    std::string status;
    int exit_code;
    std::string err;
  };
  const std::vector<StatusCase> cases = {
      {"recording", 1, "error: Still recording after 0 s.\n"},
      {"importing", 1, "error: Still importing after 0 s.\n"},
      {"finalizing", 1, "error: Still finalizing after 0 s.\n"},
      {"transcribing", 1, "error: Still transcribing after 0 s.\n"},
      {"processingNotes", 1, "error: Still processingNotes after 0 s.\n"},
      {"generatingTitle", 1, "error: Still generatingTitle after 0 s.\n"},
      {"ready", 0, ""},
      {"cancelled", 0, ""},
      {"failed", 1, "error: The operation failed.\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.status);
    FakeApp app(socket_path());
    app.on_ok("get_meeting", R"({"status":")" + c.status + R"("})");
    auto run = this->run({"meetings", "wait", kId, "--timeout", "0"});
    EXPECT_EQ(run.exit_code, c.exit_code);
    EXPECT_EQ(run.err, c.err);
    // A finished job prints its summary; one still running prints nothing.
    EXPECT_EQ(run.out.empty(), c.exit_code == 1 && c.status != "failed") << run.out;
    EXPECT_EQ(app.commands(), std::vector<std::string>{"get_meeting"});
  }
}

TEST_F(Meetings, TextInputFromFileAndStdin) {
  FakeApp app(socket_path());
  app.on_ok("get_meeting", R"({"id":"i","title":"t","transcript":"x"})");
  home.write("notes.md", "# Notes\n\n- K\xC3\xA4se\n");
  auto from_file = run({"meetings", "set-notes", kId, "--file", "notes.md"}, "", home.path());
  EXPECT_EQ(from_file.exit_code, 0) << from_file.err;
  auto from_stdin = run({"meetings", "set-transcript", kId, "--file", "-"}, "piped\n");
  EXPECT_EQ(from_stdin.exit_code, 0) << from_stdin.err;
  auto requests = app.requests();
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_NE(requests[1].find(R"("notes":"# Notes\n\n- K)"
                             "\xC3\xA4"
                             R"(se\n")"),
            std::string::npos)
      << requests[1];
  EXPECT_NE(requests[3].find(R"("transcript":"piped\n")"), std::string::npos) << requests[3];
}

TEST_F(Meetings, TextInputErrorsSendNothing) {
  FakeApp app(socket_path());
  home.write("bad.txt", "\xFF\xFE");
  home.mkdir("folder");
  struct ErrorCase {
    std::vector<std::string> args;
    std::string input;
    int exit_code;
    std::string err;
  };
  const std::vector<ErrorCase> cases = {
      {{"--file", "missing.md"},
       "",
       1,
       "error: Cannot read missing.md: No such file or directory (os error 2)\n"},
      {{"--file", "bad.txt"},
       "",
       1,
       "error: Cannot read bad.txt: stream did not contain valid UTF-8\n"},
      {{"--file", "folder"}, "", 1, "error: Cannot read folder: Is a directory (os error 21)\n"},
      {{"--file", "-"}, "\xC3", 1, "error: stream did not contain valid UTF-8\n"},
      {{"--file", "bad.txt", "--text", "x"},
       "",
       2,
       "error: Pass --text \"...\" or --file <path> (use - for stdin).\nRun `murmela-cli help` for "
       "usage.\n"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args{"meetings", "set-notes", "latest"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    auto run = this->run(args, c.input, home.path());
    EXPECT_EQ(run.exit_code, c.exit_code);
    EXPECT_EQ(run.err, c.err);
  }
  EXPECT_TRUE(app.requests().empty());
}

TEST_F(Meetings, LatestWithNoMeetings) {
  FakeApp app(socket_path());
  app.on_ok("list_meetings", "[]");
  auto run = this->run({"meetings", "transcript", "latest"});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.err, "error: There are no meetings yet.\n");
  EXPECT_EQ(run.out, "");
}

}  // namespace
