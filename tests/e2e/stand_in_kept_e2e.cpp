#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <thread>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "stand_in_fixture.hpp"
#include "wav.hpp"

using namespace testing_support;
using nlohmann::json;
namespace fs = std::filesystem;

namespace {

// The stand-in keeps its library in the data folder unless a run is
// throwaway; these tests start, stop and kill it in the test's HOME.
class KeptLibrary : public StandIn {
 protected:
  std::vector<std::string> run_arguments;
  std::vector<std::string> arguments() const override { return run_arguments; }

  std::string kept() const { return data_folder() + "/stand-in-library.json"; }

  void stop() {
    if (app <= 0) return;
    EXPECT_EQ(run({"quit", "--no-launch"}).exit_code, 0);
    ::waitpid(app, nullptr, 0);
    app = -1;
  }

  void kill_app() {
    ::kill(app, SIGKILL);
    ::waitpid(app, nullptr, 0);
    app = -1;
  }

  void restart(std::vector<std::string> arguments = {}) {
    stop();
    run_arguments = std::move(arguments);
    app = start();
    ASSERT_TRUE(answers_ping());
  }

  // Temporary files a save left behind, anywhere in the data folder.
  std::vector<std::string> leftovers() const {
    std::vector<std::string> found;
    std::error_code error;
    for (const auto& entry : fs::recursive_directory_iterator(data_folder(), error)) {
      if (entry.path().filename().string().find(".murmela-tmp-") != std::string::npos)
        found.push_back(entry.path());
    }
    return found;
  }

  std::map<std::string, json> meetings_by_id() {
    std::map<std::string, json> by_id;
    for (const auto& meeting : cli_json({"meetings", "list"})) by_id[meeting["id"]] = meeting;
    return by_id;
  }
};

// What identifies one state of a file: replaced or written, it changes.
struct FileState {
  ino_t inode = 0;
  timespec modified{};
  std::string content;

  static FileState of(const std::string& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return {info.st_ino, info.st_mtim, read_file_text(path)};
  }
  bool operator==(const FileState& other) const {
    return inode == other.inode && modified.tv_sec == other.modified.tv_sec &&
           modified.tv_nsec == other.modified.tv_nsec && content == other.content;
  }
};

// The CLI starts the stand-in without options: what it changes there
// outlives the stand-in.
class KeptByDefault : public CliTest {
 protected:
  void TearDown() override {
    run({"quit", "--no-launch"});
    wait_until_ended();
  }

  // The instance lock is free once the stand-in has ended: the test asks
  // for it rather than waiting a while.
  void wait_until_ended() const {
    const int fd = ::open(data_folder().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::flock(fd, LOCK_EX);
    ::close(fd);
  }
};

TEST_F(KeptByDefault, WhatAStandInStartedByTheCliChangedIsThereAfterARestart) {
  auto renamed = run({"meetings", "rename", "3f1c", "Kept by default"});
  ASSERT_EQ(renamed.exit_code, 0) << renamed.err;
  const std::string kept = data_folder() + "/stand-in-library.json";
  auto diagnostics = json::parse(run({"diagnostics", "--no-launch"}).out);
  EXPECT_EQ(diagnostics["library"], kept);
  EXPECT_NE(diagnostics["note"].get<std::string>().find("kept in " + kept), std::string::npos)
      << diagnostics;

  EXPECT_EQ(run({"quit", "--no-launch"}).exit_code, 0);
  wait_until_ended();
  auto shown = run({"meetings", "show", "3f1c"});
  ASSERT_EQ(shown.exit_code, 0) << shown.err;
  EXPECT_EQ(json::parse(shown.out)["title"], "Kept by default");
}

// A throwaway run (asked for, or a fixture's) neither reads nor writes the
// kept library; the next kept run finds it as it was.
TEST_F(KeptLibrary, AThrowawayRunLeavesTheKeptLibraryAlone) {
  cli_json({"meetings", "rename", "3f1c", "Kept name"});
  const std::string fixture =
      home.write("fixture.json", R"({"meetings": [{"id": "fix1", "title": "Fixture"}]})");
  struct Case {
    std::vector<std::string> arguments;
    const char* variable;  // MURMELA_EPHEMERAL's value, or none
    std::string renamed;   // a meeting the throwaway run has
  };
  const std::vector<Case> cases = {
      {{"--ephemeral"}, nullptr, "3f1c"},
      {{}, "1", "3f1c"},
      {{"--library", fixture}, nullptr, "fix1"},
  };
  stop();
  const FileState before = FileState::of(kept());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments.empty() ? "MURMELA_EPHEMERAL" : c.arguments.front());
    if (c.variable) env["MURMELA_EPHEMERAL"] = c.variable;
    restart(c.arguments);
    env.erase("MURMELA_EPHEMERAL");
    auto diagnostics = cli_json({"diagnostics"});
    EXPECT_TRUE(diagnostics["library"].is_null()) << diagnostics;
    EXPECT_NE(diagnostics["note"].get<std::string>().find("throwaway"), std::string::npos);
    if (c.renamed == "3f1c") {
      EXPECT_NE(cli_json({"meetings", "show", "3f1c"})["title"], "Kept name");
    }
    cli_json({"meetings", "rename", c.renamed, "Thrown away"});
    stop();
    EXPECT_TRUE(FileState::of(kept()) == before);
  }
  // `--persist`, the default, is still taken, and the command line has the
  // last word.
  env["MURMELA_EPHEMERAL"] = "1";
  restart({"--persist"});
  EXPECT_EQ(cli_json({"meetings", "show", "3f1c"})["title"], "Kept name");
  EXPECT_EQ(cli_json({"diagnostics"})["library"], kept());
}

// Every command the table marks as not changing the library answers without
// writing it: same file, same inode, same time.
TEST_F(KeptLibrary, CommandsThatChangeNothingKeptNeverWriteTheLibrary) {
  cli_json({"meetings", "rename", "3f1c", "Kept"});
  const std::string id = cli_json({"meetings", "show", "3f1c"})["id"];
  cli_json({"meetings", "clean", id});
  const std::map<std::string, json> values = {
      {"id", id},
      {"path", home / "export.out"},
      {"format", "markdown"},
      {"transcriptVersion", "recognized"},
      {"limit", 5},
      {"model", "base"},
      {"page", "meetings"},
  };
  const FileState before = FileState::of(kept());
  int asked = 0;
  for (const auto& command : cli_json({"commands"})) {
    if (command["changesLibrary"] != false || command["name"] == "quit_app") continue;
    const std::string name = command["name"];
    json args = json::object();
    for (const std::string arg : command["args"]) {
      const auto value = values.find(arg);
      if (value == values.end()) {
        ADD_FAILURE() << "no value for `" << arg << "` of " << name;
        continue;
      }
      args[arg] = value->second;
    }
    auto answered = run({"invoke", name, args.dump(), "--no-launch"});
    EXPECT_EQ(answered.err.find("Unknown command"), std::string::npos) << name;
    EXPECT_TRUE(FileState::of(kept()) == before) << name << " wrote the library";
    ++asked;
  }
  EXPECT_GT(asked, 10);
  // The export did run: it is a read of the library, not a no-op.
  EXPECT_TRUE(fs::exists(home / "export.out"));
}

// Each meeting's part of the kept file is made again only when the meeting
// changes: after every kind of change the file is still the whole library
// printed as one (two-space indented JSON), and holds each meeting as the
// app shows it.
TEST_F(KeptLibrary, TheKeptFileHoldsEveryChangeAndReadsAsOnePrintedLibrary) {
  const std::string planning = "3f1c9a2e7b8d4c6f9e0a1b2c3d4e5f60";
  const std::string call = "8a4b2c6d1e9f4a3b8c7d6e5f4a3b2c1d";
  const std::string second = "8a4be91f0c2d4b7a9e8f7a6b5c4d3e2f";
  const std::vector<std::vector<std::string>> changes = {
      {"meetings", "rename", planning, "Grüße — 日本語 \"quoted\" \\ / end"},
      {"meetings", "set-notes", planning, "--text", "# Plan\n\tindented\n"},
      {"meetings", "transcribe", call},
      {"meetings", "clean", call},
      {"meetings", "rename-speaker", call, "You", "Tomas Reeves"},
      {"meetings", "labels", second, "off", "--confirm"},
      {"meetings", "generate-notes", planning, "--detach"},
      {"meetings", "cancel", planning},
      {"meetings", "record", "start", "--title", "Standup"},
      {"meetings", "record", "stop"},
      {"meetings", "wait", "latest"},
      {"settings", "set", "meetingSpeakerLabels=false"},
      {"meetings", "delete", call, "--confirm"},
  };
  for (const auto& change : changes) {
    const std::string what = change[1] + " " + change[2];
    // Only the commands that wait for a job have it moved on meanwhile.
    const bool waits = change[1] == "wait" || change[1] == "transcribe";
    std::vector<std::string> args = change;
    if (!waits) args.push_back("--no-launch");
    auto changed = waits ? run_stepping(change) : run(args);
    ASSERT_EQ(changed.exit_code, 0) << what << ": " << changed.err;
    const std::string text = read_file_text(kept());
    const json library = json::parse(text, nullptr, false);
    ASSERT_TRUE(library.is_object()) << what;
    EXPECT_EQ(text, library.dump(2) + "\n") << what;
    const auto shown = meetings_by_id();
    ASSERT_EQ(library["meetings"].size(), shown.size()) << what;
    for (const json& meeting : library["meetings"]) {
      const json now = cli_json({"meetings", "show", meeting["id"]});
      for (const char* key : {"title", "notes", "transcript", "cleanedTranscript", "speakerLabels",
                              "error", "durationSeconds"}) {
        EXPECT_EQ(meeting[key], now[key]) << what << ": " << key;
      }
      // A job under way is not kept: the meeting is kept as it rests.
      const std::set<std::string> busy = {"recording",       "importing",      "finalizing",
                                          "transcribing",    "processingNotes", "generatingTitle"};
      if (!busy.contains(now["status"].get<std::string>())) {
        EXPECT_EQ(meeting["status"], now["status"]) << what;
      }
    }
  }
}

// Killed at any point, the stand-in restarts with every result a client
// was told of, a library that loads, and no temporary files.
TEST_F(KeptLibrary, AKillLosesNoResultAClientWasToldOf) {
  home.write("talk.wav", wav_file_bytes({16000, 1, std::vector<std::int16_t>(16000, 300)}));
  const auto first = cli_json({"meetings", "show", "3f1c"});
  const std::string demo = first["id"];
  std::map<std::string, std::string> titles{{demo, first["title"]}};  // reported: ID -> title
  std::map<std::string, std::string> unsure;       // sent, unanswered: ID -> title
  std::map<std::string, std::string> transcripts;  // reported: ID -> transcript
  for (int round = 0; round < 6; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const std::string title = "Round " + std::to_string(round);
    const std::string id = cli_json({"meetings", "import", home / "talk.wav", "--detach"})["id"];
    titles[id] = "talk.wav";
    switch (round % 3) {
      case 0:  // right after a reply, the import's job still running
        break;
      case 1: {  // right after a job's result and an edit were reported
        const auto done = stepped_json({"meetings", "wait", id});
        ASSERT_EQ(done["status"], "ready") << done;
        transcripts[id] = cli_json({"meetings", "show", id})["transcript"];
        cli_json({"meetings", "rename", id, title});
        titles[id] = title;
        break;
      }
      case 2: {  // while a change is on its way: it must be kept once reported
        RunResult renamed;
        std::thread change([&] {
          renamed = run({"meetings", "rename", demo, title, "--no-launch"});
        });
        kill_app();
        change.join();
        (renamed.exit_code == 0 ? titles : unsure)[demo] = title;
        break;
      }
    }
    if (app > 0) kill_app();

    app = start();
    ASSERT_TRUE(answers_ping());
    EXPECT_EQ(leftovers(), std::vector<std::string>());
    const auto library = json::parse(read_file_text(kept()), nullptr, false);
    EXPECT_TRUE(library.is_object() && library["meetings"].is_array());
    const auto meetings = meetings_by_id();
    for (auto& [kept_id, kept_title] : titles) {
      const auto meeting = meetings.find(kept_id);
      ASSERT_NE(meeting, meetings.end()) << kept_id << " is lost";
      const std::string now = meeting->second["title"];
      if (const auto sent = unsure.find(kept_id); sent != unsure.end()) {
        EXPECT_TRUE(now == kept_title || now == sent->second) << now;
        kept_title = now;
        unsure.erase(sent);
      } else {
        EXPECT_EQ(now, kept_title) << kept_id;
      }
    }
    for (const auto& [kept_id, transcript] : transcripts) {
      EXPECT_EQ(cli_json({"meetings", "show", kept_id})["transcript"], transcript) << kept_id;
    }
  }
}

// A full disk, as the file-size limit of the stand-in's process makes one:
// the change that cannot be kept fails with the reason, the app goes on
// answering, and once there is room the next change keeps everything.
TEST_F(KeptLibrary, AChangeThatCannotBeKeptFailsAndTheNextOneKeepsAll) {
  cli_json({"meetings", "rename", "3f1c", "Before"});
  const Wav audio{16000, 2, std::vector<std::int16_t>(16000 * 2, 777)};  // 128 KB as WAV
  home.write("talk.wav", wav_file_bytes(audio));
  const FileState before = FileState::of(kept());

  // Only the soft limit moves: raising it back needs no privilege.
  rlimit room{};
  ASSERT_EQ(::prlimit(app, RLIMIT_FSIZE, nullptr, &room), 0) << std::strerror(errno);
  const rlimit full{32 * 1024, room.rlim_max};
  ASSERT_EQ(::prlimit(app, RLIMIT_FSIZE, &full, nullptr), 0) << std::strerror(errno);
  auto failed = run({"meetings", "import", home / "talk.wav", "--detach", "--no-launch"});
  EXPECT_EQ(failed.exit_code, 1);
  EXPECT_TRUE(
      failed.err.starts_with("error: The change was made but could not be kept: Cannot "
                             "write " +
                             data_folder() + "/audio/"))
      << failed.err;
  EXPECT_NE(failed.err.find("File too large"), std::string::npos) << failed.err;
  EXPECT_EQ(run({"ping", "--no-launch"}).exit_code, 0);
  EXPECT_TRUE(cli_json({"diagnostics"})["librarySaveError"].is_string());
  EXPECT_TRUE(FileState::of(kept()) == before);
  EXPECT_EQ(leftovers(), std::vector<std::string>());

  ASSERT_EQ(::prlimit(app, RLIMIT_FSIZE, &room, nullptr), 0) << std::strerror(errno);
  cli_json({"meetings", "rename", "3f1c", "After"});
  EXPECT_TRUE(cli_json({"diagnostics"})["librarySaveError"].is_null());

  kill_app();
  app = start();
  ASSERT_TRUE(answers_ping());
  EXPECT_EQ(cli_json({"meetings", "show", "3f1c"})["title"], "After");
  std::string imported;
  for (const auto& meeting : cli_json({"meetings", "list"})) {
    if (meeting["title"] == "talk.wav") imported = meeting["id"];
  }
  ASSERT_FALSE(imported.empty());
  cli_json({"meetings", "export-audio", imported, home / "back.wav"});
  EXPECT_EQ(read_wav(read_file_text(home / "back.wav")).samples, audio.samples);
}

}  // namespace
