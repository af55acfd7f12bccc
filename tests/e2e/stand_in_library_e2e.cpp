#include <filesystem>
#include <thread>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "stand_in_fixture.hpp"
#include "wav.hpp"

using namespace testing_support;
using nlohmann::json;
namespace fs = std::filesystem;

namespace {

// The stand-in as a developer's tool: a library kept between runs, fixtures,
// a log of requests, and its own help.
class StandInPersist : public StandIn {
 protected:
  std::vector<std::string> arguments() const override { return {"--persist"}; }

  void restart() {
    EXPECT_EQ(run({"quit", "--no-launch"}).exit_code, 0);
    ::waitpid(app, nullptr, 0);
    app = start();
    ASSERT_TRUE(answers_ping());
  }
};

TEST_F(StandInPersist, ARestartKeepsImportsEditsAndAudio) {
  const Wav audio{16000, 2, std::vector<std::int16_t>(16000 * 2, 1234)};
  home.write("talk.wav", wav_file_bytes(audio));
  const std::string id = cli_json({"meetings", "import", home / "talk.wav"})["id"];
  stepped_json({"meetings", "wait", id});
  cli_json({"meetings", "rename", id, "Kept call"});
  cli_json({"meetings", "set-notes", id, "--text", "Notes that stay"});
  cli_json({"meetings", "delete", "3f1c", "--confirm"});
  cli_json({"settings", "set", "language=de"});

  restart();
  auto meeting = cli_json({"meetings", "show", id});
  EXPECT_EQ(meeting["title"], "Kept call");
  EXPECT_EQ(meeting["notes"], "Notes that stay");
  EXPECT_EQ(meeting["durationSeconds"], 1);
  EXPECT_EQ(run({"meetings", "show", "3f1c", "--no-launch"}).exit_code, 1);
  EXPECT_EQ(cli_json({"settings", "get", "language"}), "de");
  cli_json({"meetings", "export-audio", id, home / "back.wav"});
  EXPECT_EQ(read_wav(read_file_text(home / "back.wav")).samples, audio.samples);
}

class StandInAlone : public CliTest {
 protected:
  // Runs the stand-in in the foreground until the test has asked `requests`
  // of it and told it to quit.
  RunResult run_stand_in(const std::vector<std::string>& arguments,
                         const std::vector<std::vector<std::string>>& requests) {
    RunResult result;
    std::thread stand_in([&] {
      result = run_program(kStandInPath, arguments, {env, "", home.path()});
    });
    bool up = false;
    for (int i = 0; i < 3000 && !up; ++i) {
      up = run({"ping", "--no-launch"}).exit_code == 0;
      if (!up) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(up);
    for (auto request : requests) {
      request.push_back("--no-launch");
      outputs.push_back(run(request).out);
    }
    run({"quit", "--no-launch"});
    stand_in.join();
    return result;
  }
  std::vector<std::string> outputs;
};

TEST_F(StandInAlone, AFixtureLibraryTakesThePlaceOfTheDemoMeetings) {
  home.write("fixture.json",
             R"({"meetings": [{"title": "Fixture call", "transcript": "You: hello\nAna: hi"},
                              {"id": "abc123", "title": "Second", "notes": "n"}]})");
  for (bool by_environment : {false, true}) {
    outputs.clear();
    std::vector<std::string> arguments;
    if (by_environment) {
      env["MURMELA_STAND_IN_LIBRARY"] = home / "fixture.json";
    } else {
      arguments = {"--library", home / "fixture.json"};
    }
    auto ended = run_stand_in(arguments, {{"meetings", "list"}, {"meetings", "speakers", "abc"}});
    EXPECT_EQ(ended.exit_code, 0) << ended.err;
    auto list = json::parse(outputs[0]);
    ASSERT_EQ(list.size(), 2u) << outputs[0];
    EXPECT_EQ(list[0]["title"], "Second");
    EXPECT_EQ(list[1]["title"], "Fixture call");
    EXPECT_EQ(list[1]["speakerCount"], 2);
  }
}

TEST_F(StandInAlone, ABrokenLibraryIsRefusedWithItsReason) {
  home.write("broken.json", R"({"meetings": {}})");
  auto refused =
      run_program(kStandInPath, {"--library", home / "broken.json"}, {env, "", home.path()});
  EXPECT_EQ(refused.exit_code, 1);
  EXPECT_EQ(refused.err,
            "murmela (stand-in): " + (home / "broken.json") + " has no array `meetings`\n");
}

TEST_F(StandInAlone, VerboseLogsTheSocketAndEachRequestAndReply) {
  auto ended = run_stand_in({"--verbose"}, {{"ping"}});
  EXPECT_NE(ended.err.find("listening on " + socket_path() + "\n"), std::string::npos) << ended.err;
  EXPECT_NE(ended.err.find("-> {\"version\":1,\"command\":\"ping\",\"args\":{},\"detach\":false}\n"
                           "<- {\"ok\":true,\"result\":{\"pong\":true}}\n"),
            std::string::npos)
      << ended.err;
}

TEST_F(StandInAlone, HelpDocumentsTheSwitchesAndTheStepVariable) {
  auto help = run_program(kStandInPath, {"--help"}, {env, "", home.path()});
  EXPECT_EQ(help.exit_code, 0);
  for (const char* text : {"--persist", "--library FILE", "MURMELA_STAND_IN_LIBRARY", "--verbose",
                           "MURMELA_STAND_IN_STEP_MS", "pocketsphinx-en-us", "large-v3"}) {
    EXPECT_NE(help.out.find(text), std::string::npos) << text;
  }
}

}  // namespace
