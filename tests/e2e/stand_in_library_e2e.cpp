#include <atomic>
#include <filesystem>
#include <thread>

#include <signal.h>
#include <sys/wait.h>

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

// A save that fails fails the request that made the change, shows in
// diagnostics, and the next change that can be kept is.
TEST_F(StandInPersist, AFailedSaveFailsTheRequestAndShowsInDiagnostics) {
  const std::string kept = data_folder() + "/stand-in-library.json";
  fs::remove(kept);
  fs::create_directory(kept);  // a save cannot replace a folder
  auto failed = run({"meetings", "rename", "3f1c", "Lost name", "--no-launch"});
  EXPECT_EQ(failed.exit_code, 1);
  EXPECT_TRUE(
      failed.err.starts_with("error: The change was made but could not be kept: Cannot "
                             "write " +
                             kept + ": "))
      << failed.err;
  auto diagnostics = cli_json({"diagnostics"});
  EXPECT_EQ(diagnostics["library"], kept);
  EXPECT_TRUE(diagnostics["librarySaveError"].is_string()) << diagnostics;

  fs::remove(kept);
  cli_json({"meetings", "rename", "3f1c", "Kept name"});
  EXPECT_TRUE(cli_json({"diagnostics"})["librarySaveError"].is_null());
  restart();
  EXPECT_EQ(cli_json({"meetings", "show", "3f1c"})["title"], "Kept name");
}

// A damaged audio file costs its meeting the audio, with a warning; the app
// and every other meeting are still there.
TEST_F(StandInPersist, ADamagedAudioFileLeavesItsMeetingWithoutAudio) {
  home.write("talk.wav", wav_file_bytes({16000, 1, std::vector<std::int16_t>(16000, 99)}));
  const std::string id = cli_json({"meetings", "import", home / "talk.wav"})["id"];
  stepped_json({"meetings", "wait", id});
  EXPECT_EQ(run({"quit", "--no-launch"}).exit_code, 0);
  ::waitpid(app, nullptr, 0);
  const auto library = json::parse(home.read(".local/share/Murmela/stand-in-library.json"));
  std::string audio_file;
  for (const auto& meeting : library["meetings"]) {
    if (meeting["id"] == id) audio_file = meeting["audioFile"];
  }
  ASSERT_FALSE(audio_file.empty()) << library;
  home.write(".local/share/Murmela/audio/" + audio_file, "not audio any more");

  app = start();
  ASSERT_TRUE(answers_ping());
  auto meeting = cli_json({"meetings", "show", id});
  ASSERT_EQ(meeting["recognitionWarnings"].size(), 1u) << meeting;
  EXPECT_TRUE(meeting["recognitionWarnings"][0].get<std::string>().starts_with(
      "The audio file " + audio_file + " could not be read ("))
      << meeting;
  EXPECT_EQ(cli_json({"meetings", "list"}).size(), 4u);
}

// With jobs on a clock, a result lands without any request to save it: it
// is kept as it lands, so a kill right after loses nothing reported. A
// killed save's temporary files are gone at the next start.
class StandInPersistTimed : public StandInPersist {
  const char* step_setting() const override { return "0"; }
};

TEST_F(StandInPersistTimed, AResultIsKeptAsItLandsAndLeftoversGoAtStart) {
  home.write("talk.wav", wav_file_bytes({16000, 1, std::vector<std::int16_t>(16000)}));
  const std::string id = cli_json({"meetings", "import", home / "talk.wav", "--detach"})["id"];
  const auto waited = cli_json({"meetings", "wait", id});
  ASSERT_EQ(waited["status"], "ready");
  const std::string model = cli_json({"meetings", "show", id})["transcriptionModel"];
  ::kill(app, SIGKILL);
  ::waitpid(app, nullptr, 0);
  const std::string library_leftover =
      home.write(".local/share/Murmela/.stand-in-library.json.murmela-tmp-a1b2c3", "{");
  const std::string audio_leftover = home.write(
      ".local/share/Murmela/audio/.0123456789abcdef0123456789abcdef.wav.murmela-tmp-x1y2z3", "R");

  app = start();
  ASSERT_TRUE(answers_ping());
  auto meeting = cli_json({"meetings", "show", id});
  EXPECT_EQ(meeting["status"], "ready");
  EXPECT_EQ(meeting["transcriptionModel"], model);
  EXPECT_FALSE(fs::exists(library_leftover));
  EXPECT_FALSE(fs::exists(audio_leftover));
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

  // Runs the stand-in as one that should refuse to start; one that starts
  // after all is told to quit, so that the test fails rather than waits.
  RunResult run_refused(const std::vector<std::string>& arguments) {
    RunResult result;
    std::atomic<bool> ended{false};
    std::thread stand_in([&] {
      result = run_program(kStandInPath, arguments, {env, "", home.path()});
      ended = true;
    });
    for (int i = 0; i < 3000 && !ended; ++i) {
      if (run({"quit", "--no-launch"}).exit_code == 0) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    stand_in.join();
    return result;
  }
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

// Every member of a fixture is checked before the socket is bound: a broken
// fixture is refused with its reason, and no socket is left for clients.
TEST_F(StandInAlone, AFixtureIsCheckedBeforeTheSocketIsBound) {
  struct Case {
    std::string library;
    std::string reason;  // after "{path}: "
  };
  const std::vector<Case> cases = {
      {R"({"meetings": [], "settings": []})", "`settings` must be an object"},
      {R"({"meetings": [], "settings": {"asrModel": 5}})", "setting `asrModel` must be a string"},
      {R"({"meetings": [], "settings": {"colour": "red"}})", "unknown setting `colour`"},
      {R"({"meetings": [{"title": "a", "durationSeconds": -5}]})",
       "meeting 1: `durationSeconds` must be a number from 0 to 10000000"},
      {R"({"meetings": [{"title": "a", "durationSeconds": "long"}]})",
       "meeting 1: `durationSeconds` must be a number from 0 to 10000000"},
      {R"({"meetings": [{"title": "a", "status": "transcribing"}]})",
       "meeting 1: status \"transcribing\" is not one a meeting rests in (ready, failed or "
       "cancelled)"},
      {R"({"meetings": [{"id": "abc", "title": "a"}, {"id": "abc", "title": "b"}]})",
       "meeting 2: the ID abc is taken by an earlier one"},
      {R"({"meetings": [{"id": "../../x", "title": "a"}]})",
       "meeting 1: its ID \"../../x\" is not 1 to 64 letters, digits, '-' or '_' (starting "
       "with a letter or digit)"},
      {R"({"meetings": [{"id": "", "title": "a"}]})",
       "meeting 1: its ID \"\" is not 1 to 64 letters, digits, '-' or '_' (starting with a "
       "letter or digit)"},
      {R"({"meetings": [{"title": 5}]})", "meeting 1: `title` must be a string"},
      {R"({"meetings": [{"title": "a", "speakerLabels": "yes"}]})",
       "meeting 1: `speakerLabels` must be true or false"},
      {R"({"meetings": [{"title": "a", "audioScript": ["You: hi", 3]}]})",
       "meeting 1: `audioScript` must be an array of strings"},
      {R"({"meetings": [{"id": "abc", "title": "a", "audio": true}]})",
       "meeting 1: `audioFile` must be a name the stand-in made (32 hex digits and .wav), not "
       "\"abc.wav\""},
      {R"({"meetings": [{"title": "a", "audio": true, "audioFile": "../../secret.wav"}]})",
       "meeting 1: `audioFile` must be a name the stand-in made (32 hex digits and .wav), not "
       "\"../../secret.wav\""},
      {R"({"meetings": ["call"]})", "meeting 1: it is not a JSON object"},
  };
  for (const auto& c : cases) {
    const std::string path = home.write("broken.json", c.library);
    auto refused = run_refused({"--library", path});
    EXPECT_EQ(refused.exit_code, 1) << c.library;
    EXPECT_EQ(refused.err, "murmela (stand-in): " + path + ": " + c.reason + "\n") << c.library;
    EXPECT_FALSE(fs::exists(socket_path())) << c.library;
  }
}

// Settings a fixture leaves out are the app's own; jobs that read them work.
TEST_F(StandInAlone, AFixtureMayGiveSomeSettingsOrNone) {
  home.write("talk.wav", wav_file_bytes({16000, 1, std::vector<std::int16_t>(1600)}));
  for (const char* settings : {"{}", R"({"language": "de"})"}) {
    outputs.clear();
    home.write("fixture.json",
               std::string(R"({"meetings": [{"title": "Call"}], "settings": )") + settings + "}");
    auto ended = run_stand_in({"--library", home / "fixture.json"},
                              {{"meetings", "import", home / "talk.wav"},
                               {"settings", "get", "asrModel"},
                               {"meetings", "record", "start"},
                               {"meetings", "record", "stop"}});
    EXPECT_EQ(ended.exit_code, 0) << ended.err;
    EXPECT_EQ(json::parse(outputs[0])["status"], "importing") << settings;
    EXPECT_EQ(outputs[1], "\"base\"\n") << settings;
    EXPECT_EQ(json::parse(outputs[3])["status"], "finalizing") << settings;
  }
}

TEST_F(StandInAlone, VerboseLogsTheSocketAndEachRequestAndReply) {
  auto ended = run_stand_in({"--verbose"}, {{"ping"}});
  EXPECT_NE(ended.err.find("listening on " + socket_path() + "\n"), std::string::npos) << ended.err;
  EXPECT_NE(ended.err.find("-> {\"version\":1,\"command\":\"ping\",\"args\":{},\"detach\":false}\n"
                           "<- {\"ok\":true,\"result\":{\"pong\":true}}\n"),
            std::string::npos)
      << ended.err;
}

// A command line the stand-in cannot take is a usage error (exit 2) that
// says what is wrong and where to look, and starts nothing.
TEST_F(StandInAlone, AWrongCommandLineIsAUsageError) {
  struct Case {
    std::vector<std::string> arguments;
    std::string problem;
  };
  const std::string needs_value = "--library needs a value (a JSON file).";
  const std::vector<Case> cases = {
      {{"--library"}, needs_value},
      {{"--library", "--verbose"}, needs_value},
      {{"--verbose", "--library="}, needs_value},
      {{"--colour"}, "Unknown option: --colour"},
      {{"-x", "--help"}, "Unknown option: -x"},
      {{"fixture.json"}, "Unexpected argument: fixture.json (the stand-in takes options only)"},
  };
  for (const auto& c : cases) {
    auto refused = run_refused(c.arguments);
    EXPECT_EQ(refused.exit_code, 2) << c.arguments[0];
    EXPECT_EQ(refused.err,
              "murmela (stand-in): " + c.problem + "\nRun `murmela --help` for usage.\n");
    EXPECT_EQ(refused.out, "");
    EXPECT_FALSE(fs::exists(socket_path())) << c.arguments[0];
  }
}

TEST_F(StandInAlone, HelpDocumentsTheSwitchesAndTheStepVariable) {
  auto help = run_program(kStandInPath, {"--help"}, {env, "", home.path()});
  EXPECT_EQ(help.exit_code, 0);
  for (const char* text : {"--ephemeral", "MURMELA_EPHEMERAL=1", "--persist", "--library FILE",
                           "MURMELA_STAND_IN_LIBRARY", "--verbose", "MURMELA_STAND_IN_STEP_MS",
                           "pocketsphinx-en-us", "large-v3"}) {
    EXPECT_NE(help.out.find(text), std::string::npos) << text;
  }
}

}  // namespace
