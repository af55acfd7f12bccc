#include <gtest/gtest.h>

#include "cli/dispatch.hpp"
#include "cli/meetings/export.hpp"
#include "cli/meetings/jobs.hpp"
#include "cli/meetings/meeting_id.hpp"
#include "cli/meetings/summary.hpp"
#include "fake_app_link.hpp"

using namespace murmela;
using testing_support::FakeAppLink;

namespace {

const std::string kFull = "0123456789abcdef0123456789ABCDEF";

TEST(MeetingId, FullShape) {
  EXPECT_TRUE(has_full_id_shape(kFull));
  EXPECT_FALSE(has_full_id_shape(kFull.substr(1)));
  EXPECT_FALSE(has_full_id_shape(kFull.substr(1) + "g"));
  EXPECT_FALSE(has_full_id_shape(kFull + "0"));
}

TEST(MeetingId, PickFromTheList) {
  const Json list =
      Json::parse(R"([{"id":"abc1"},{"title":"no id"},{"id":7},"junk",{"id":"abd2"},{"id":"b"}])");
  struct Case {
    std::string argument;
    Result<std::string> expected;
  };
  const std::vector<Case> cases = {
      {"latest", "abc1"},
      {"abc", "abc1"},
      {"abd2", "abd2"},
      {"ABC",
       fail(CliError::failed("No meeting ID starts with `ABC`. Run `murmela-cli meetings list`."))},
      {"Latest", fail(CliError::failed(
                     "No meeting ID starts with `Latest`. Run `murmela-cli meetings list`."))},
      {"ab", fail(CliError::failed("`ab` matches 2 meetings; use more characters."))},
      {"", fail(CliError::failed("`` matches 3 meetings; use more characters."))},
      {"abc1x", fail(CliError::failed(
                    "No meeting ID starts with `abc1x`. Run `murmela-cli meetings list`."))},
  };
  for (const auto& c : cases)
    EXPECT_EQ(pick_meeting_id(list, c.argument), c.expected) << c.argument;
}

TEST(MeetingId, EmptyOrOddLists) {
  const auto none = fail(CliError::failed("There are no meetings yet."));
  EXPECT_EQ(pick_meeting_id(Json::array(), "latest"), none);
  EXPECT_EQ(pick_meeting_id(Json::parse(R"({"id":"x"})"), "latest"), none);
  EXPECT_EQ(pick_meeting_id(Json::parse(R"([{"id":null},{"id":"b"}])"), "latest"), none);
  EXPECT_EQ(pick_meeting_id(Json::parse(R"([{"id":"only"}])"), ""), Result<std::string>("only"));
  EXPECT_EQ(
      pick_meeting_id(Json::array(), ""),
      fail(CliError::failed("No meeting ID starts with ``. Run `murmela-cli meetings list`.")));
}

TEST(Summary, FifteenKeysCountsInCodePoints) {
  const Json record =
      Json::parse(R"({"id":"x","title":null,"status":"ready","transcript":"K\u00e4se.",
      "notes":["not text"],"cleanedTranscript":"long cleaned text","durationSeconds":1.5,
      "recordingWarnings":[{"w":1}],"extra":true})");
  const Json summary = summarize_meeting(record);
  EXPECT_EQ(summary.size(), 15u);
  EXPECT_EQ(summary["transcriptChars"], 5);
  EXPECT_EQ(summary["notesChars"], 0);
  EXPECT_TRUE(summary["speakerCount"].is_null());
  EXPECT_EQ(summary["durationSeconds"], 1.5);
  EXPECT_EQ(summary["recordingWarnings"], record["recordingWarnings"]);
  EXPECT_FALSE(summary.contains("extra") || summary.contains("transcript") ||
               summary.contains("notes"));
  EXPECT_EQ(summarize_meeting("not a record").size(), 15u);
}

TEST(ExportFormat, FromOptionOrExtension) {
  struct Case {
    std::string path;
    std::optional<std::string> option;
    Result<std::string> sent;
  };
  auto unknown = [](std::string name) {
    return fail(
        CliError::usage("Unknown export format `" + name + "`. Use md, txt, html, pdf or wav."));
  };
  const std::vector<Case> cases = {
      {"/h/call.md", {}, "markdown"},
      {"/h/call", {}, "markdown"},
      {"/h/.notes", {}, "markdown"},
      {"/h/call.final.MD", {}, "markdown"},
      {"/h/x.HTM", {}, "html"},
      {"/h/x.txt", {}, "text"},
      {"/h/x.wav", {}, "wav"},
      {"/h/x.", {}, unknown("")},
      {"/h/..", {}, "markdown"},
      {"/", {}, "markdown"},
      {"/h/x.docx", {}, unknown("docx")},
      {"/h/x.docx", "pdf", "pdf"},
      {"/h/x.md", "audio", "wav"},
      {"/h/x.md", "HTM", unknown("HTM")},
      {"/h/x.md", "", unknown("")},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(export_format_for(c.path, c.option), c.sent)
        << c.path << " " << c.option.value_or("-");
  }
}

TEST(WaitTimeout, WholeSecondsOnly) {
  auto timeout_of = [](std::vector<std::string> args) {
    auto invocation = scan(args);
    return wait_timeout(*invocation);
  };
  EXPECT_EQ(timeout_of({}), Result<std::uint64_t>(14400));
  EXPECT_EQ(timeout_of({"--timeout", "+30"}), Result<std::uint64_t>(30));
  EXPECT_EQ(timeout_of({"--timeout", "007"}), Result<std::uint64_t>(7));
  for (const char* bad : {"-5", "1.5", "10s", "+", "", "18446744073709551616", " 1"}) {
    EXPECT_EQ(timeout_of({"--timeout", bad}),
              fail(CliError::usage("--timeout is a number of seconds.")))
        << bad;
  }
}

// The subcommand table, through dispatch with a scripted app.
struct Dispatched {
  FakeAppLink app;
  StringOutput out;
  Done result;
  Dispatched(std::vector<std::string> args, std::function<void(FakeAppLink&)> script = {}) {
    if (script) script(app);
    auto invocation = scan(args);
    result = dispatch(Context{*invocation, app, out});
  }
};

TEST(MeetingsTable, WordsThatNameNoSubcommand) {
  for (auto [args, named] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"meetings", "show"}, "show"},
           {{"meetings", "show", "a", "b"}, "show a b"},
           {{"meeting", "record", "pause"}, "record pause"},
           {{"meetings", "labels", "x", "maybe"}, "labels x maybe"},
           {{"meetings", "join", "x"}, "join x"},
           {{"meetings", "List"}, "List"},
           {{"meetings", "export", "x"}, "export x"}}) {
    Dispatched run(args);
    ASSERT_FALSE(run.result);
    EXPECT_EQ(run.result.error(), CliError::usage("Unknown meetings command: " + named));
    EXPECT_TRUE(run.app.calls.empty());
  }
}

TEST(MeetingsTable, ChecksThatComeBeforeAnyRequest) {
  const std::vector<std::pair<std::vector<std::string>, CliError>> cases = {
      {{"meetings", "delete", "latest"},
       CliError::usage("Deleting a meeting removes its audio and transcript. Add --confirm.")},
      {{"meetings", "generate-notes", "x", "--preset", "Summary"},
       CliError::usage(
           "--preset is summary, tasks, speakers, brief, formatted-transcript or custom.")},
      {{"meetings", "generate-notes", "x", "--preset="},
       CliError::usage(
           "--preset is summary, tasks, speakers, brief, formatted-transcript or custom.")},
      {{"meetings", "set-notes", "x"},
       CliError::usage(R"(Pass --text "..." or --file <path> (use - for stdin).)")},
      {{"meetings", "set-transcript", "x", "--text", "a", "--file", "/etc/hostname"},
       CliError::usage(R"(Pass --text "..." or --file <path> (use - for stdin).)")},
      {{"meetings", "export", "x", "/tmp/a.docx"},
       CliError::usage("Unknown export format `docx`. Use md, txt, html, pdf or wav.")},
  };
  for (const auto& [args, error] : cases) {
    Dispatched run(args);
    ASSERT_FALSE(run.result);
    EXPECT_EQ(run.result.error(), error);
    EXPECT_TRUE(run.app.calls.empty());
  }
}

TEST(MeetingsTable, PresetsAsSent) {
  for (auto [typed, sent] : std::vector<std::pair<std::string, std::string>>{
           {"summary", "summary"},
           {"tasks", "tasks"},
           {"speakers", "speakers"},
           {"brief", "brief"},
           {"custom", "custom"},
           {"formatted-transcript", "formattedTranscript"},
           {"formattedTranscript", "formattedTranscript"}}) {
    Dispatched run({"meetings", "generate-notes", kFull, "--preset", typed});
    ASSERT_TRUE(run.result);
    EXPECT_EQ(run.app.calls[0].args, (Json{{"id", kFull}, {"preset", sent}, {"instructions", ""}}));
  }
}

TEST(MeetingsTable, ChangingAnswersPrintAsSummaryOnlyWithATranscriptKey) {
  Dispatched record({"meetings", "clean", kFull}, [](FakeAppLink& app) {
    app.on("clean_meeting", Json::parse(R"({"id":"x","transcript":null})"));
  });
  EXPECT_EQ(Json::parse(record.out.text()).size(), 15u);
  Dispatched other({"meetings", "clean", kFull},
                   [](FakeAppLink& app) { app.on("clean_meeting", Json::parse(R"({"id":"x"})")); });
  EXPECT_EQ(other.out.text(), "{\n  \"id\": \"x\"\n}\n");
}

TEST(MeetingsTable, ReadModifyWriteSendsExactlyFourKeys) {
  const Json record =
      Json::parse(R"({"id":"FROM-RECORD","title":"T","transcript":"a","cleanedTranscript":"c",
                                      "extra":1})");
  Dispatched run({"meetings", "set-transcript", kFull, "--text", "new"},
                 [&](FakeAppLink& app) { app.on("get_meeting", record); });
  ASSERT_TRUE(run.result);
  ASSERT_EQ(run.app.calls.size(), 2u);
  EXPECT_FALSE(run.app.calls[0].detach);
  EXPECT_EQ(run.app.calls[1].command, "save_meeting");
  EXPECT_EQ(run.app.calls[1].args,
            Json::parse(R"({"id":"FROM-RECORD","title":"T","transcript":"new","notes":null})"));
}

TEST(MeetingsTable, JoinStopsAtTheFirstFailingId) {
  Dispatched run({"meetings", "join", "a", "b"}, [](FakeAppLink& app) {
    app.on("list_meetings", Json::parse(R"([{"id":"a1"},{"id":"a2"}])"));
  });
  ASSERT_FALSE(run.result);
  EXPECT_EQ(run.result.error(), CliError::failed("`a` matches 2 meetings; use more characters."));
  EXPECT_EQ(run.app.calls.size(), 1u);
}

}  // namespace

namespace {

// A transcript is the app's text: on a terminal its own lines and tabs show,
// and any other control shows escaped instead of acting on the terminal;
// piped on, it goes out byte for byte.
TEST(MeetingText, ControlsShowEscapedOnATerminalOnly) {
  const char* record =
      R"({"id":"x","transcript":"Hi\tall\n\u001b]0;owned\u0007\u001b[2J\r\u009b\u202e.","notes":null})";
  const std::pair<bool, std::string> cases[] = {
      {false, "Hi\tall\n\x1b]0;owned\x07\x1b[2J\r\xC2\x9B\xE2\x80\xAE.\n"},
      {true, "Hi\tall\n\\x1b]0;owned\\x07\\x1b[2J\\x0d\\u009b\\u202e.\n"},
  };
  for (const auto& [terminal, shown] : cases) {
    FakeAppLink app;
    app.on("get_meeting", Json::parse(record));
    StringOutput out(terminal);
    const std::vector<std::string> args{"meetings", "transcript", kFull};
    auto invocation = scan(args);
    ASSERT_TRUE(dispatch(Context{*invocation, app, out}));
    EXPECT_EQ(out.text(), shown) << (terminal ? "terminal" : "piped");
  }
}

}  // namespace
