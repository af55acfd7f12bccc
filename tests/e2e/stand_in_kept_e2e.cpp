#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
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

  // Starts the stand-in as one that should refuse to start; one that starts
  // after all is told to quit, so that the test fails rather than waits.
  RunResult start_refused() {
    RunResult result;
    std::atomic<bool> ended{false};
    std::thread stand_in([&] {
      result = run_program(kStandInPath, {"--startup"}, {env, "", home.path()});
      ended = true;
    });
    for (int i = 0; i < 3000 && !ended; ++i) {
      if (app_answers("quit_app")) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    stand_in.join();
    return result;
  }

  // A meeting of real audio, imported and done; its ID.
  std::string imported(const std::string& file) {
    const std::string id = cli_json({"meetings", "import", file, "--detach"})["id"];
    EXPECT_EQ(stepped_json({"meetings", "wait", id})["status"], "ready");
    return id;
  }

  // The audio file the kept library names for a meeting.
  std::string audio_file_of(const std::string& id) const {
    const auto library = json::parse(read_file_text(kept()));
    for (const auto& meeting : library["meetings"]) {
      if (meeting["id"] == id) return meeting.value("audioFile", "");
    }
    return "";
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
      const std::set<std::string> busy = {"recording",    "importing",       "finalizing",
                                          "transcribing", "processingNotes", "generatingTitle"};
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

// The data folder as people arrange it: audio/ moved to a bigger disk and
// linked back, with their own files beside the stand-in's; later the
// library file lost. Through kills and restarts nothing is lost: the
// stand-in removes only audio it wrote, and only with its meeting.
TEST_F(KeptLibrary, LinksAndARemovedLibraryLoseNothingAcrossKills) {
  const Wav sound{16000, 1, std::vector<std::int16_t>(16000, 321)};
  home.write("talk.wav", wav_file_bytes(sound));
  const std::string kept_id = imported(home / "talk.wav");
  const std::string deleted_id = imported(home / "talk.wav");
  const std::string kept_audio = audio_file_of(kept_id);
  const std::string deleted_audio = audio_file_of(deleted_id);
  ASSERT_FALSE(kept_audio.empty());
  ASSERT_FALSE(deleted_audio.empty());
  stop();

  const std::string disk = home / "big-disk/audio";
  fs::create_directories(home / "big-disk");
  fs::rename(data_folder() + "/audio", disk);
  fs::create_directory_symlink(disk, data_folder() + "/audio");
  // A name like the stand-in's own, but not one it wrote.
  const std::set<std::string> users = {"song.wav", "holiday.wav",
                                       "0123456789abcdef0123456789abcdef.wav"};
  for (const auto& name : users) home.write("big-disk/audio/" + name, "the user's " + name);
  const auto files_on_disk = [&] {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(disk)) names.insert(entry.path().filename());
    return names;
  };
  std::set<std::string> expected = users;
  expected.insert(kept_audio);

  app = start();
  ASSERT_TRUE(answers_ping());
  cli_json({"meetings", "rename", "3f1c", "Renamed"});
  cli_json({"meetings", "delete", deleted_id, "--confirm"});
  kill_app();
  EXPECT_EQ(files_on_disk(), expected);
  EXPECT_TRUE(fs::is_symlink(data_folder() + "/audio"));

  app = start();
  ASSERT_TRUE(answers_ping());
  EXPECT_EQ(cli_json({"meetings", "show", "3f1c"})["title"], "Renamed");
  cli_json({"meetings", "export-audio", kept_id, home / "back.wav"});
  EXPECT_EQ(read_wav(read_file_text(home / "back.wav")).samples, sound.samples);
  kill_app();

  // The library file gone, its audio still there: the stand-in starts with
  // the demo meetings, and its first changes take none of that audio.
  fs::remove(kept());
  app = start();
  ASSERT_TRUE(answers_ping());
  cli_json({"meetings", "rename", "3f1c", "After the loss"});
  const std::string new_id = imported(home / "talk.wav");
  cli_json({"meetings", "delete", new_id, "--confirm"});
  kill_app();
  EXPECT_EQ(files_on_disk(), expected);
  EXPECT_EQ(leftovers(), std::vector<std::string>());
  for (const auto& name : users) {
    EXPECT_EQ(read_file_text(disk + "/" + name), "the user's " + name);
  }
  EXPECT_EQ(read_wav(read_file_text(disk + "/" + kept_audio)).samples, sound.samples);
}

// A library path that is no file of the stand-in's own (a link, dangling or
// to a FIFO or to a file elsewhere; a FIFO) is neither read through nor
// replaced: the stand-in says why and does not start, and nothing there or
// in the audio folder changes.
TEST_F(KeptLibrary, ALibraryPathThatIsNoFileOfItsOwnIsRefusedAndLeftAlone) {
  home.write("talk.wav", wav_file_bytes({16000, 1, std::vector<std::int16_t>(8000, 5)}));
  const std::string id = imported(home / "talk.wav");
  const std::string audio = data_folder() + "/audio/" + audio_file_of(id);
  stop();
  const std::string library_text = read_file_text(kept());
  const std::string elsewhere = home.write("elsewhere/library.json", library_text);
  const std::string fifo = home / "elsewhere/fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string link_reason =
      " is a symbolic link; the library is kept in a file of its own, never read or written "
      "through a link. Put the library file itself there (or remove the link to start with the "
      "demo meetings).";
  struct Case {
    const char* name;
    std::string target;  // of the link, or empty: a FIFO in its place
    std::string reason;
  };
  const std::vector<Case> cases = {
      {"dangling link", home / "elsewhere/missing.json", link_reason},
      {"link to a FIFO", fifo, link_reason},
      {"link to a file elsewhere", elsewhere, link_reason},
      {"FIFO", "", " is not a regular file; move it away to start with the demo meetings."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(kept());
    if (c.target.empty()) {
      ASSERT_EQ(::mkfifo(kept().c_str(), 0600), 0);
    } else {
      fs::create_symlink(c.target, kept());
    }
    auto refused = start_refused();
    EXPECT_EQ(refused.exit_code, 1);
    EXPECT_EQ(refused.err, "murmela (stand-in): " + kept() + c.reason + "\n");
    if (c.target.empty()) {
      EXPECT_TRUE(fs::is_fifo(kept()));
    } else {
      ASSERT_TRUE(fs::is_symlink(kept()));
      EXPECT_EQ(fs::read_symlink(kept()), c.target);
    }
    EXPECT_FALSE(fs::exists(socket_path()));
  }
  EXPECT_TRUE(fs::is_fifo(fifo));
  EXPECT_EQ(read_file_text(elsewhere), library_text);
  EXPECT_TRUE(fs::is_regular_file(audio));
  // Put back, the library is there as it was.
  fs::remove(kept());
  fs::rename(elsewhere, kept());
  app = start();
  ASSERT_TRUE(answers_ping());
  EXPECT_EQ(cli_json({"meetings", "show", id})["durationSeconds"], 0.5);
}

// An export over an earlier file that fails (the disk full, as the
// file-size limit of the stand-in's process makes one) leaves the earlier
// file as it was, and no temporary file beside it.
TEST_F(KeptLibrary, AFailedExportLeavesTheFileItWasToReplace) {
  const std::string earlier = home.write("exports/call.wav", "the earlier export");
  cli_json({"meetings", "set-notes", "3f1c", "--text", std::string(8000, 'n')});
  rlimit room{};
  ASSERT_EQ(::prlimit(app, RLIMIT_FSIZE, nullptr, &room), 0) << std::strerror(errno);
  const rlimit full{4 * 1024, room.rlim_max};
  ASSERT_EQ(::prlimit(app, RLIMIT_FSIZE, &full, nullptr), 0) << std::strerror(errno);
  const std::vector<std::vector<std::string>> exports = {
      {"meetings", "export-audio", "3f1c", earlier, "--no-launch"},
      {"meetings", "export", "3f1c", earlier, "--format", "md", "--no-launch"},
  };
  for (const auto& export_command : exports) {
    SCOPED_TRACE(export_command[1]);
    auto failed = run(export_command);
    EXPECT_EQ(failed.exit_code, 1);
    EXPECT_EQ(failed.err.find("error: Cannot write " + earlier + ": File too large"), 0u)
        << failed.err;
    EXPECT_TRUE(read_file_text(earlier) == "the earlier export") << "the earlier file was changed";
    EXPECT_EQ(std::distance(fs::directory_iterator(home / "exports"), fs::directory_iterator()), 1);
  }
  ASSERT_EQ(::prlimit(app, RLIMIT_FSIZE, &room, nullptr), 0) << std::strerror(errno);
  cli_json({"meetings", "export-audio", "3f1c", earlier});
  EXPECT_TRUE(read_file_text(earlier).starts_with("RIFF"));
}

// Audio that cannot be read at one start (its folder a link to a disk not
// there, the file damaged or gone) is the meeting's still: changes meanwhile
// keep naming it, nothing removes it, no made-up tone is exported in its
// place, and once it is back the meeting has it again.
TEST_F(KeptLibrary, AudioUnreadableAtOneStartIsKeptAndNeverMadeUp) {
  stop();
  const Wav sound{16000, 1, std::vector<std::int16_t>(8000, 777)};
  const std::string file = "0123456789abcdef0123456789abcde1.wav";
  const std::string folder = data_folder() + "/audio";
  const std::string audio = folder + "/" + file;
  const std::string away = home / "away";
  home.write(".local/share/Murmela/audio/" + file, wav_file_bytes(sound));
  const json library = {{"meetings",
                         {{{"id", "rec1"},
                           {"title", "Rec"},
                           {"durationSeconds", 0.5},
                           {"audio", true},
                           {"audioFile", file}},
                          {{"id", "other"}, {"title", "Other"}}}}};
  home.write(".local/share/Murmela/stand-in-library.json", library.dump());
  const std::string wav_bytes = read_file_text(audio);
  struct Case {
    const char* name;
    std::function<void()> spoil;
    std::function<void()> mend;
  };
  const std::vector<Case> cases = {
      {"audio folder a dangling link",
       [&] {
         fs::rename(folder, away);
         fs::create_directory_symlink(home / "unplugged-disk/audio", folder);
       },
       [&] {
         fs::remove(folder);
         fs::rename(away, folder);
       }},
      {"audio file damaged", [&] { home.write(".local/share/Murmela/audio/" + file, "RIFF?"); },
       [&] { home.write(".local/share/Murmela/audio/" + file, wav_bytes); }},
      {"audio file gone", [&] { fs::rename(audio, away); }, [&] { fs::rename(away, audio); }},
      {"audio file cut short, its header whole",
       [&] { home.write(".local/share/Murmela/audio/" + file, wav_bytes.substr(0, 100)); },
       [&] { home.write(".local/share/Murmela/audio/" + file, wav_bytes); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    stop();
    c.spoil();
    restart();
    auto shown = cli_json({"meetings", "show", "rec1"});
    ASSERT_EQ(shown["recognitionWarnings"].size(), 1u) << shown;
    EXPECT_TRUE(shown["recognitionWarnings"][0].get<std::string>().starts_with(
        "The audio file " + file + " could not be read ("))
        << shown;
    for (const auto& command :
         {std::vector<std::string>{"meetings", "export-audio", "rec1", home / "out.wav",
                                   "--no-launch"},
          {"meetings", "export", "rec1", home / "out.wav", "--format", "wav", "--no-launch"},
          {"meetings", "transcribe", "rec1", "--detach", "--no-launch"}}) {
      auto refused = run(command);
      EXPECT_EQ(refused.exit_code, 1) << command[1];
      EXPECT_TRUE(refused.err.starts_with("error: The meeting's audio file " + file +
                                          " could not be read when Murmela started ("))
          << refused.err;
    }
    EXPECT_FALSE(fs::exists(home / "out.wav"));
    cli_json({"meetings", "rename", "other", std::string("Renamed: ") + c.name});
    const auto kept_library = json::parse(read_file_text(kept()));
    ASSERT_EQ(kept_library["meetings"][0]["id"], "rec1");
    EXPECT_EQ(kept_library["meetings"][0]["audio"], true);
    EXPECT_EQ(kept_library["meetings"][0]["audioFile"], file);
    EXPECT_EQ(kept_library["meetings"][0]["recognitionWarnings"], json::array());
    kill_app();

    c.mend();
    restart();
    EXPECT_EQ(read_file_text(audio), wav_bytes);
    cli_json({"meetings", "export-audio", "rec1", home / "back.wav"});
    EXPECT_EQ(read_wav(read_file_text(home / "back.wav")).samples, sound.samples);
    EXPECT_EQ(cli_json({"meetings", "show", "rec1"})["recognitionWarnings"], json::array());
    EXPECT_EQ(cli_json({"meetings", "show", "other"})["title"], std::string("Renamed: ") + c.name);
  }
}

// Whatever the loader would refuse is refused as a request first, with the
// reason, and the stand-in starts again on what it kept: a join past the
// longest meeting, past the longest audio, of too many parts; texts past
// what the CLI can read back (which it would then fail on for good).
TEST_F(KeptLibrary, ChangesItCouldNotLoadAgainAreRefusedFirst) {
  stop();
  // Two recordings of 2.1 hours each (at 100 Hz, to stay small).
  const Wav long_audio{100, 1, std::vector<std::int16_t>(7560 * 100, 40)};
  const std::string rec1 = "0123456789abcdef0123456789abcde1.wav";
  const std::string rec2 = "0123456789abcdef0123456789abcde2.wav";
  home.write(".local/share/Murmela/audio/" + rec1, wav_file_bytes(long_audio));
  home.write(".local/share/Murmela/audio/" + rec2, wav_file_bytes(long_audio));
  std::string lines;
  for (int i = 0; i < 100000; ++i) lines += "A: x\n";
  const json library = {{"meetings",
                         {{{"id", "long1"}, {"title", "Long"}, {"durationSeconds", 6000000}},
                          {{"id", "long2"}, {"title", "Long"}, {"durationSeconds", 6000000}},
                          {{"id", "rec1"},
                           {"title", "Rec"},
                           {"durationSeconds", 7560},
                           {"audio", true},
                           {"audioFile", rec1}},
                          {{"id", "rec2"},
                           {"title", "Rec"},
                           {"durationSeconds", 7560},
                           {"audio", true},
                           {"audioFile", rec2}},
                          {{"id", "lines"}, {"title", "Lines"}, {"transcript", lines}}}}};
  home.write(".local/share/Murmela/stand-in-library.json", library.dump());
  app = start();
  ASSERT_TRUE(answers_ping());
  cli_json({"settings", "set", "language=de"});  // the library as the stand-in writes it
  const std::string before = read_file_text(kept());

  const auto ids = [](const char* id, int times) {
    return json(std::vector<std::string>(times, id));
  };
  struct Case {
    const char* name;
    const char* command;
    json args;
    std::string error;  // the whole message, or its start ending in "…"
  };
  const std::vector<Case> cases = {
      {"a join past the longest meeting",
       "join_meetings",
       {{"ids", {"long1", "long2"}}, {"title", nullptr}},
       "The joined meeting would last 12000000 s, more than the 10000000 s a meeting may last."},
      {"a join past the longest audio",
       "join_meetings",
       {{"ids", {"rec1", "rec2"}}, {"title", nullptr}},
       "The joined recording would last 4.2 hours, longer than the 4 hours the stand-in takes."},
      {"a join of too many parts",
       "join_meetings",
       {{"ids", ids("long1", 1001)}, {"title", nullptr}},
       "A join takes at most 1000 meetings, not 1001."},
      {"a join of 300,000 parts",
       "join_meetings",
       {{"ids", ids("long1", 300000)}, {"title", nullptr}},
       "A join takes at most 1000 meetings, not 300000."},
      {"a long speaker name on many lines",
       "rename_meeting_speaker",
       {{"id", "lines"}, {"from", "A"}, {"to", std::string(300, 'B')}},
       "The change is too large: the meeting would take …"},
      {"a title past what every list holds",
       "save_meeting",
       {{"id", "rec1"}, {"title", std::string(5000, 't')}, {"transcript", ""}, {"notes", ""}},
       "A meeting's title may take at most 4096 bytes."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto answer = murmela::send_request(socket_path(), c.command, c.args, false);
    if (answer) {
      ADD_FAILURE() << "accepted";
      continue;
    }
    if (c.error.ends_with("…")) {
      EXPECT_TRUE(answer.error().text.starts_with(c.error.substr(0, c.error.size() - 3)))
          << answer.error().text.substr(0, 300);
    } else {
      EXPECT_EQ(answer.error().text, c.error);
    }
  }
  // Notes of 33 MiB, under the stand-in's request limit but past what the
  // CLI reads back: refused, and the meeting is still shown.
  home.write("notes.txt", std::string(33u << 20, 'n'));
  auto notes = run({"meetings", "set-notes", "rec1", "--file", home / "notes.txt", "--no-launch"});
  EXPECT_EQ(notes.exit_code, 1);
  EXPECT_TRUE(
      notes.err.starts_with("error: The change is too large: the meeting would take 33.0 "
                            "MiB, more than the 24 MiB a meeting may take so that the CLI "
                            "can read it back.\n"))
      << notes.err.substr(0, 300);
  EXPECT_EQ(cli_json({"meetings", "show", "rec1"})["notes"], "");

  EXPECT_TRUE(read_file_text(kept()) == before) << "a refused change was kept";
  kill_app();
  app = start();
  ASSERT_TRUE(answers_ping());
  EXPECT_EQ(cli_json({"meetings", "list"}).size(), 5u);
  EXPECT_EQ(cli_json({"meetings", "show", "rec1"})["durationSeconds"], 7560);
}

// A library near the most it may take (lowered here, for the loader as for
// every change, so that the test need not write 256 MiB): a change past it
// is refused with the reason, what fits is kept, and the stand-in starts
// again on it.
TEST_F(KeptLibrary, AChangePastTheLargestLibraryIsRefusedAndTheRestLoads) {
  stop();
  env["MURMELA_STAND_IN_LIBRARY_MIB"] = "1";
  app = start();
  ASSERT_TRUE(answers_ping());
  home.write("notes.txt", std::string(400 * 1024, 'n'));
  std::vector<std::string> ids;
  for (const auto& meeting : cli_json({"meetings", "list"})) ids.push_back(meeting["id"]);
  ASSERT_GE(ids.size(), 3u);
  const json unchanged = cli_json({"meetings", "show", ids[2]})["notes"];
  cli_json({"meetings", "set-notes", ids[0], "--file", home / "notes.txt"});
  cli_json({"meetings", "set-notes", ids[1], "--file", home / "notes.txt"});
  auto refused =
      run({"meetings", "set-notes", ids[2], "--file", home / "notes.txt", "--no-launch"});
  EXPECT_EQ(refused.exit_code, 1);
  EXPECT_TRUE(refused.err.starts_with("error: The change is too large: the library would take "))
      << refused.err;
  EXPECT_NE(refused.err.find("MiB, more than the 1 MiB it may take to be loaded again.\n"),
            std::string::npos)
      << refused.err;
  // A change that adds little still goes through.
  auto joined = run({"meetings", "join", ids[0], ids[1], "--no-launch"});
  EXPECT_EQ(joined.exit_code, 0) << joined.err;  // joins no notes: it fits
  EXPECT_LE(fs::file_size(kept()), 1u << 20);

  kill_app();
  app = start();
  ASSERT_TRUE(answers_ping());
  EXPECT_EQ(cli_json({"meetings", "show", ids[1]})["notes"].get<std::string>().size(), 400u * 1024);
  EXPECT_TRUE(cli_json({"meetings", "show", ids[2]})["notes"] == unchanged);
}

}  // namespace
