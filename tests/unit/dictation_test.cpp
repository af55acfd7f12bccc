#include <gtest/gtest.h>

#include "cli/dispatch.hpp"
#include "fake_app_link.hpp"

using namespace murmela;
using testing_support::FakeAppLink;

namespace {

Done run(FakeAppLink& app, StringOutput& out, std::vector<std::string> args) {
  auto invocation = scan(args);
  return dispatch(Context{*invocation, app, out});
}

TEST(Dictation, StepsPrintTheThreeMemberProjection) {
  for (auto [word, command] : {std::pair{"start", "start_dictation"},
                               {"stop", "stop_dictation"},
                               {"cancel", "cancel_dictation"}}) {
    FakeAppLink app;
    StringOutput out;
    app.on(command, Json{{"state", "idle"}, {"outputText", "Hi"}, {"other", 1}});
    ASSERT_TRUE(run(app, out, {"dictation", word, "--detach"}));
    EXPECT_EQ(app.calls[0].command, command);
    EXPECT_TRUE(app.calls[0].detach);
    EXPECT_EQ(out.text(),
              "{\n  \"error\": null,\n  \"outputText\": \"Hi\",\n  \"state\": \"idle\"\n}\n");
  }
}

TEST(Dictation, HistoryLimit) {
  const std::vector<std::pair<std::vector<std::string>, Json>> sent = {
      {{}, 20},
      {{"--limit", "5"}, 5},
      {{"--limit=+5"}, 5},
      {{"--limit", "0"}, 0},
      {{"--limit", "18446744073709551615"}, 18446744073709551615ull}};
  for (const auto& [extra, limit] : sent) {
    FakeAppLink app;
    StringOutput out;
    std::vector<std::string> args{"dictation", "history"};
    args.insert(args.end(), extra.begin(), extra.end());
    ASSERT_TRUE(run(app, out, args));
    EXPECT_EQ(app.calls[0].args, (Json{{"limit", limit}}));
  }
  for (const char* bad : {"-1", "5x", "1.5", "18446744073709551616", "", "+", " 5"}) {
    FakeAppLink app;
    StringOutput out;
    auto result = run(app, out, {"dictation", "history", "--limit", bad});
    ASSERT_FALSE(result) << bad;
    EXPECT_EQ(result.error(), CliError::usage("--limit must be a number."));
    EXPECT_TRUE(app.calls.empty());
  }
}

TEST(Dictation, WrongWordsAreUsageErrors) {
  for (std::vector<std::string> args : {std::vector<std::string>{"dictation"},
                                        {"dictation", "start", "now"},
                                        {"dictation", "Start"}}) {
    FakeAppLink app;
    StringOutput out;
    auto result = run(app, out, args);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(),
              CliError::usage("Use `dictation start|stop|cancel|history|copy-last`."));
  }
}

}  // namespace
