#include "cli/app_commands.hpp"

#include <gtest/gtest.h>

#include "cli/dispatch.hpp"
#include "fake_app_link.hpp"

using namespace murmela;
using testing_support::FakeAppLink;

namespace {

struct Dispatched {
  FakeAppLink app;
  StringOutput out;
  Done result;

  explicit Dispatched(std::vector<std::string> args,
                      std::function<void(FakeAppLink&)> script = {}) {
    if (script) script(app);
    auto invocation = scan(args);
    EXPECT_TRUE(invocation);
    result = dispatch(Context{*invocation, app, out});
  }
  Json printed() const { return Json::parse(out.text()); }
};

TEST(Dispatch, UnknownLinesNameAllWords) {
  for (auto [args, words] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"Status"}, "Status"},
           {{"status", "--version"}, "status version"},
           {{"help", "me"}, "help me"},
           {{"open", "a", "b"}, "open a b"},
           {{"invoke", "a", "b", "c", "--x", "y"}, "invoke a b c"},
           {{"version", "now"}, "version now"}}) {
    Dispatched run(args);
    ASSERT_FALSE(run.result);
    EXPECT_EQ(run.result.error(), CliError::usage("Unknown command: " + words));
    EXPECT_TRUE(run.app.calls.empty());
  }
}

TEST(Dispatch, TextsNeedNoApp) {
  Dispatched help({"--no-launch"}), help2({"-h"}), guide({"agents"}), guide2({"help", "agents"});
  EXPECT_EQ(help.out.text(), help2.out.text());
  EXPECT_TRUE(help.out.text().starts_with(
      "murmela-cli 0.28.8: control Murmela from a terminal, script or agent.\n"));
  EXPECT_EQ(guide.out.text(), guide2.out.text());
  EXPECT_TRUE(help.app.calls.empty() && guide.app.calls.empty());
}

TEST(Dispatch, PlainAppCommandsCarryTheDetachFlag) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> rows = {
      {{"models"}, "get_model_library"},
      {{"models", "list"}, "get_model_library"},
      {{"ai"}, "get_ai_settings"},
      {{"ai", "settings"}, "get_ai_settings"},
      {{"vocabulary", "list"}, "get_vocabulary"},
      {{"diagnostics"}, "get_diagnostics"},
      {{"snapshot"}, "get_snapshot"},
      {{"commands"}, "commands"},
      {{"ping"}, "ping"},
      {{"invoke", "anything_at_all"}, "anything_at_all"}};
  for (auto [args, command] : rows) {
    args.push_back("--detach");
    Dispatched run(args, [&](FakeAppLink& app) { app.on(command, Json{{"z", 1}, {"a", 2}}); });
    ASSERT_TRUE(run.result);
    ASSERT_EQ(run.app.calls.size(), 1u);
    EXPECT_EQ(run.app.calls[0].command, command);
    EXPECT_EQ(run.app.calls[0].args, Json::object());
    EXPECT_TRUE(run.app.calls[0].detach);
    EXPECT_EQ(run.out.text(), "{\n  \"a\": 2,\n  \"z\": 1\n}\n");
  }
}

TEST(Dispatch, OpenSendsThePageUnchecked) {
  Dispatched plain({"open"}), named({"open", "no-such-page"});
  EXPECT_EQ(plain.app.calls[0].args, (Json{{"page", "dictation"}}));
  EXPECT_EQ(named.app.calls[0].args, (Json{{"page", "no-such-page"}}));
}

TEST(Dispatch, QuitNeverLaunchesAndNeverDetaches) {
  Dispatched run({"quit", "--detach"});
  ASSERT_EQ(run.app.calls.size(), 1u);
  EXPECT_EQ(run.app.calls[0].command, "quit_app");
  EXPECT_TRUE(run.app.calls[0].no_launch);
  EXPECT_FALSE(run.app.calls[0].detach);
}

TEST(Dispatch, InvokeParsesJsonBeforeSending) {
  Dispatched array({"invoke", "ping", " [1,2] "});
  EXPECT_EQ(array.app.calls[0].args, Json::parse("[1,2]"));
  Dispatched broken({"invoke", "get_meeting", "{"});
  ASSERT_FALSE(broken.result);
  EXPECT_TRUE(broken.result.error().message.starts_with("Arguments must be a JSON object: "));
  EXPECT_NE(broken.result.error().message.find("line 1, column"), std::string::npos);
  EXPECT_EQ(broken.result.error().exit_class, ExitClass::Usage);
  EXPECT_TRUE(broken.app.calls.empty());
}

TEST(Status, PicksTenMembersAndTheMeetingModel) {
  const Json state = Json::parse(R"({"version":"2.1","state":"idle","meetingRecording":false,
      "activeMeetingId":null,"error":null,"extra":1,
      "settings":{"asrModel":"base","meetingAsrModel":"","meetingSpeakerLabels":true,"notesModel":"n"}})");
  Dispatched run({"status", "--detach"}, [&](FakeAppLink& app) { app.on("get_state", state); });
  ASSERT_TRUE(run.result);
  EXPECT_FALSE(run.app.calls[0].detach);
  Json printed = run.printed();
  EXPECT_EQ(printed.size(), 10u);
  EXPECT_EQ(printed["meetingModel"], "base");
  EXPECT_EQ(printed["dictationModel"], "base");
  EXPECT_EQ(printed["meetingSpeakerLabels"], true);
  EXPECT_TRUE(printed["cli"].is_string());

  Json other = state;
  other["settings"]["meetingAsrModel"] = "large";
  Dispatched second({"status"}, [&](FakeAppLink& app) { app.on("get_state", other); });
  EXPECT_EQ(second.printed()["meetingModel"], "large");
  EXPECT_EQ(second.printed()["dictationModel"], "base");
}

TEST(Status, WithoutSettingsPrintsNullModels) {
  Dispatched run({"status"}, [](FakeAppLink& app) {
    app.on("get_state", Json{{"state", "idle"}});
  });
  Json printed = run.printed();
  EXPECT_EQ(printed.size(), 10u);
  for (const char* key :
       {"dictationModel", "meetingModel", "meetingSpeakerLabels", "notesModel", "version"}) {
    EXPECT_TRUE(printed[key].is_null()) << key;
  }
  EXPECT_EQ(printed["state"], "idle");
}

TEST(SettingValue, JsonWhereItParsesTextOtherwise) {
  const std::vector<std::pair<std::string, Json>> cases = {
      {"en-US", "en-US"}, {"true", true},
      {"007", "007"},     {"[1, 2]", Json::parse("[1,2]")},
      {"", ""},           {"5x", "5x"},
      {"\"q", "\"q"},     {" 3 ", 3},
      {"null", nullptr},  {"\"quoted\"", "quoted"},
      {"a=b", "a=b"},     {R"("\ud800")", R"("\ud800")"},
  };
  for (const auto& [text, value] : cases) EXPECT_EQ(setting_value(text), value) << text;
}

const Json kState = Json::parse(R"({"settings":{"language":"de","asrModel":"base","":0}})");

TEST(Settings, GetPrintsTheObjectOrOneMember) {
  Dispatched all({"settings"}, [](FakeAppLink& app) { app.on("get_state", kState); });
  EXPECT_EQ(all.printed(), kState["settings"]);
  Dispatched one({"settings", "get", "language"},
                 [](FakeAppLink& app) { app.on("get_state", kState); });
  EXPECT_EQ(one.out.text(), "\"de\"\n");
  Dispatched unknown({"settings", "get", "nope"},
                     [](FakeAppLink& app) { app.on("get_state", kState); });
  EXPECT_TRUE(unknown.result);
  EXPECT_EQ(unknown.out.text(), "null\n");
}

TEST(Settings, SetMergesAndSendsTheWholeObject) {
  Dispatched run({"settings", "set", "language=en-US", "asrModel=[1, 2]", "language=true"},
                 [](FakeAppLink& app) {
                   app.on("get_state", kState);
                   app.on("save_settings", Json{{"settings", {{"saved", 1}}}});
                 });
  ASSERT_TRUE(run.result);
  ASSERT_EQ(run.app.calls.size(), 2u);
  EXPECT_EQ(run.app.calls[1].command, "save_settings");
  EXPECT_EQ(run.app.calls[1].args,
            Json::parse(R"({"settings":{"language":true,"asrModel":[1,2],"":0}})"));
  EXPECT_EQ(run.out.text(), "{\n  \"saved\": 1\n}\n");
}

TEST(Settings, FailuresSendNoSave) {
  struct Case {
    std::vector<std::string> args;
    CliError error;
    Json state;
  };
  const std::vector<Case> cases = {
      {{"settings", "set", "language=x", "b"}, CliError::usage("Use key=value, not `b`."), kState},
      {{"settings", "set", "Language=x"},
       CliError::usage("Unknown setting `Language`. Run `murmela-cli settings get` to list them."),
       kState},
      {{"settings", "set", "=x"},
       CliError::usage("Unknown setting ``. Run `murmela-cli settings get` to list them."),
       Json::parse(R"({"settings":{"a":1}})")},
      {{"settings", "set", "a=1"},
       CliError::failed("Murmela returned no settings."),
       Json::parse(R"({"settings":[1]})")},
      {{"settings", "set"},
       CliError::usage("Use `settings get [key]` or `settings set key=value ...`."),
       kState},
      {{"settings", "get", "a", "b"},
       CliError::usage("Use `settings get [key]` or `settings set key=value ...`."),
       kState},
      {{"settings", "list"},
       CliError::usage("Use `settings get [key]` or `settings set key=value ...`."),
       kState},
  };
  for (const auto& c : cases) {
    Dispatched run(c.args, [&](FakeAppLink& app) { app.on("get_state", c.state); });
    ASSERT_FALSE(run.result);
    EXPECT_EQ(run.result.error(), c.error);
    for (const auto& call : run.app.calls) EXPECT_NE(call.command, "save_settings");
    EXPECT_EQ(run.out.text(), "");
  }
}

TEST(Settings, EmptyNameMatchesAnEmptyKey) {
  Dispatched run({"settings", "set", "=x"}, [](FakeAppLink& app) { app.on("get_state", kState); });
  ASSERT_TRUE(run.result);
  EXPECT_EQ(run.app.calls[1].args["settings"][""], "x");
}

}  // namespace
