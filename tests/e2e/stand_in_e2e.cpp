#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
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

TEST_F(StandIn, RefusesASecondInstanceAndRemovesItsSocketOnQuit) {
  auto second = run_program(kStandInPath, {"--startup"}, {env, "", home.path()});
  EXPECT_EQ(second.exit_code, 1);
  EXPECT_NE(second.err.find("already running"), std::string::npos);

  EXPECT_EQ(cli_json({"quit"})["quitting"], true);
  int status = 0;
  ::waitpid(app, &status, 0);
  app = -1;
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_FALSE(fs::exists(socket_path()));
}

TEST_F(StandIn, ItsSocketAndFolderAreTheUsersAlone) {
  struct stat info {};
  ASSERT_EQ(::stat(socket_path().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  ::stat(data_folder().c_str(), &info);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
}

// Folders it makes on the way to its data folder are the user's alone too,
// whatever the umask: one that others could write to would let them move the
// data folder away and serve a socket of their own in its place.
TEST_F(StandIn, FoldersItCreatesArePrivateUnderAnyUmask) {
  for (const mode_t mask : {0000, 0022}) {
    SCOPED_TRACE(mask);
    app_answers("quit_app");
    ::waitpid(app, nullptr, 0);
    fs::remove_all(home / ".local");
    const mode_t old_mask = ::umask(mask);
    app = start();
    ::umask(old_mask);
    ASSERT_TRUE(answers_ping());
    for (const char* folder : {".local", ".local/share", ".local/share/Murmela"}) {
      struct stat info {};
      ASSERT_EQ(::stat((home / folder).c_str(), &info), 0) << folder;
      EXPECT_EQ(info.st_mode & 07777, 0700u) << folder;
    }
  }
}

// A data folder it cannot write to is said to be that, not taken for
// another instance. Root writes anywhere: there the folder is a read-only
// file system.
TEST_F(CliTest, AStandInOnAnUnwritableFolderSaysSo) {
  const std::string folder = home.mkdir(".local/share/Murmela");
  struct Unmount {
    std::string folder;
    bool mounted = false;
    ~Unmount() {
      if (mounted) ::umount2(folder.c_str(), MNT_DETACH);
    }
  } unmount{folder};
  if (::geteuid() == 0) {
    unmount.mounted =
        run_program("/bin/mount", {"-t", "tmpfs", "-o", "ro,size=64k", "tmpfs", folder},
                    {env, "", home.path()})
            .exit_code == 0;
    if (!unmount.mounted) GTEST_SKIP() << "cannot mount a read-only tmpfs here";
  } else {
    ::chmod(folder.c_str(), 0500);
  }
  auto started = run_program(kStandInPath, {"--startup"}, {env, "", home.path()});
  ::chmod(folder.c_str(), 0700);
  EXPECT_EQ(started.exit_code, 1);
  EXPECT_TRUE(started.err.starts_with("murmela (stand-in): cannot write in " + folder + ": "))
      << started.err;
  EXPECT_EQ(started.err.find("already running"), std::string::npos) << started.err;
}

TEST_F(StandIn, ReplacesAStaleSocketFile) {
  run({"quit", "--no-launch"});
  ::waitpid(app, nullptr, 0);
  home.write(".local/share/Murmela/cli.sock", "stale");
  app = start();
  EXPECT_TRUE(answers_ping());
}

TEST_F(StandIn, AnswersEveryCommandItLists) {
  auto commands = cli_json({"commands"});
  ASSERT_TRUE(commands.is_array());
  for (const auto& command : commands) {
    const std::string name = command["name"];
    if (name == "quit_app") continue;
    auto answer = run({"invoke", name, "{}", "--no-launch"});
    EXPECT_EQ(answer.err.find("has no handler"), std::string::npos) << name;
    EXPECT_EQ(answer.err.find("Unknown command"), std::string::npos) << name;
  }
  auto diagnostics = cli_json({"diagnostics"});
  // Diagnostics and the model library tell whether speech is really recognised.
  const bool recogniser = std::filesystem::exists("/usr/share/pocketsphinx/model/en-us/en-us/mdef");
  EXPECT_EQ(diagnostics["speechRecognition"].get<std::string>().find("is not installed") ==
                std::string::npos,
            recogniser);
  const auto models = cli_json({"models"})["models"];
  const auto sphinx =
      std::ranges::find(models, "pocketsphinx-en-us", [](const json& m) { return m["id"]; });
  ASSERT_NE(sphinx, models.end());
  EXPECT_EQ((*sphinx)["installed"], recogniser);
  auto unknown = run({"invoke", "nope", "--no-launch"});
  EXPECT_EQ(unknown.exit_code, 1);
  auto bad = run({"invoke", "get_meeting", "[1]", "--no-launch"});
  EXPECT_EQ(bad.err, "error: The arguments of `get_meeting` must be a JSON object.\n");
}

TEST_F(StandIn, SettingsRoundTrip) {
  auto saved = cli_json({"settings", "set", "language=de", "meetingSpeakerLabels=false"});
  EXPECT_EQ(saved["language"], "de");
  EXPECT_EQ(saved["meetingSpeakerLabels"], false);
  EXPECT_EQ(cli_json({"settings", "get", "language"}), "de");
  auto wrong = run({"settings", "set", "meetingSpeakerLabels=maybe", "--no-launch"});
  EXPECT_EQ(wrong.exit_code, 1);
}

TEST_F(StandIn, DictationAndHistory) {
  cli_json({"dictation", "start"});
  auto stopped = cli_json({"dictation", "stop"});
  EXPECT_EQ(stopped["state"], "idle");
  EXPECT_TRUE(stopped["outputText"].is_string());
  EXPECT_EQ(cli_json({"dictation", "history", "--limit", "5"}).size(), 1u);
  EXPECT_EQ(cli_json({"dictation", "copy-last"})["copied"], stopped["outputText"]);
}

TEST_F(StandIn, DetachedJobPassesThroughBusyStatusesAndWaitFollowsIt) {
  auto started = cli_json({"meetings", "transcribe", "8a4b2", "--detach"});
  EXPECT_EQ(started["status"], "transcribing");
  EXPECT_EQ(cli_json({"meetings", "show", "8a4b2"})["status"], "transcribing");
  auto done = stepped_json({"meetings", "wait", "8a4b2"});
  EXPECT_EQ(done["status"], "ready");
  EXPECT_GT(done["transcriptChars"].get<int>(), 0);
}

class StandInTimed : public StandIn {
  const char* step_setting() const override { return "150"; }
};

TEST_F(StandInTimed, JobsEndByThemselvesStepByStep) {
  EXPECT_EQ(cli_json({"meetings", "transcribe", "8a4b2", "--detach"})["status"], "transcribing");
  EXPECT_EQ(cli_json({"meetings", "wait", "8a4b2"})["status"], "ready");
}

TEST_F(StandIn, AFailingJobEndsTheWaitWithItsError) {
  cli_json({"meetings", "transcribe", "3f1c", "--model", "large-v3", "--detach"});
  auto waited = run_stepping({"meetings", "wait", "3f1c"});
  EXPECT_EQ(waited.exit_code, 1);
  EXPECT_EQ(json::parse(waited.out)["status"], "failed");
  EXPECT_EQ(waited.err, "error: The model large-v3 is not downloaded.\n");
}

TEST_F(StandIn, NotesAreAJobToo) {
  EXPECT_EQ(
      cli_json({"meetings", "generate-notes", "3f1c", "--preset", "tasks", "--detach"})["status"],
      "processingNotes");
  stepped_json({"meetings", "wait", "3f1c"});
  EXPECT_EQ(run({"meetings", "notes", "3f1c", "--no-launch"}).out,
            "Tasks\n\n- [ ] Other speakers: I will write them by Thursday.\n\n");
  auto blocking = stepped_json({"meetings", "generate-notes", "3f1c", "--preset", "brief"});
  EXPECT_EQ(blocking["status"], "ready");
}

TEST_F(StandIn, CancelStopsAJob) {
  cli_json({"meetings", "transcribe", "8a4be", "--detach"});
  EXPECT_EQ(cli_json({"meetings", "cancel", "8a4be"})["cancelled"], true);
  EXPECT_EQ(cli_json({"meetings", "show", "8a4be"})["status"], "cancelled");
}

TEST_F(StandIn, BlockingTranscribeDoesNotHoldUpOtherClients) {
  RunResult blocking;
  std::thread transcribe([&] {
    blocking = run({"meetings", "transcribe", "8a4b2", "--no-launch"});
  });
  // The job cannot end before it is stepped, so every answer below comes
  // while the blocking request is still waiting.
  bool seen = false;
  for (int i = 0; i < 3000 && !seen; ++i) {
    seen = cli_json({"meetings", "show", "8a4b2"})["status"] == "transcribing";
    if (!seen) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(seen);
  EXPECT_EQ(cli_json({"meetings", "list"}).size(), 3u);
  step();
  transcribe.join();
  EXPECT_EQ(blocking.exit_code, 0) << blocking.err;
  EXPECT_EQ(json::parse(blocking.out)["status"], "ready");
}

// Imports, deletes, blocking jobs and cancels from many clients at once: the
// app must answer every one of them, whatever they race against.
TEST_F(StandIn, ManyClientsAtOnce) {
  home.write("talk.m4a", "audio");
  std::atomic<bool> stop_stepping{false};
  std::thread stepper([&] {
    while (!stop_stepping) {
      app_answers("stand_in_step");
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });
  std::vector<RunResult> results[4];
  std::vector<std::thread> clients;
  for (int c = 0; c < 4; ++c) {
    clients.emplace_back([&, c] {
      for (int i = 0; i < 12; ++i) {
        switch ((c + i) % 4) {
          case 0:
            results[c].push_back(run({"meetings", "import", "talk.m4a", "--detach", "--no-launch"},
                                     "", home.path()));
            break;
          case 1:
            results[c].push_back(run({"meetings", "transcribe", "latest", "--no-launch"}));
            break;
          case 2:
            results[c].push_back(run({"meetings", "cancel", "latest", "--no-launch"}));
            break;
          default:
            results[c].push_back(run({"meetings", "delete", "latest", "--yes", "--no-launch"}));
        }
      }
    });
  }
  for (auto& client : clients) client.join();
  stop_stepping = true;
  stepper.join();
  for (const auto& client : results) {
    for (const auto& result : client) {
      EXPECT_TRUE(result.exit_code == 0 || result.exit_code == 1) << result.err;
      EXPECT_EQ(result.err.find("closed the connection"), std::string::npos) << result.err;
    }
  }
  EXPECT_TRUE(cli_json({"meetings", "list"}).is_array());
}

TEST_F(StandIn, ExportsWriteFilesThatReadBack) {
  cli_json({"meetings", "rename", "3f1c", "Plans <&> \"Q1\""});
  const std::string dir = home.mkdir("out");
  for (const char* name : {"a.md", "a.txt", "a.html", "a.pdf", "a.wav"}) {
    cli_json({"meetings", "export", "3f1c", dir + "/" + name});
  }
  cli_json({"meetings", "export-audio", "3f1c", dir + "/audio.wav"});

  EXPECT_TRUE(home.read("out/a.md").starts_with("# Plans <&> \"Q1\"\n"));
  EXPECT_NE(home.read("out/a.txt").find("You: Morning everyone"), std::string::npos);
  const std::string html = home.read("out/a.html");
  EXPECT_TRUE(html.starts_with("<!DOCTYPE html>"));
  EXPECT_NE(html.find("<title>Plans &lt;&amp;&gt; &quot;Q1&quot;</title>"), std::string::npos);
  for (const char* wav : {"out/a.wav", "out/audio.wav"}) {
    const std::string audio = home.read(wav);
    ASSERT_GT(audio.size(), 44u);
    EXPECT_EQ(audio.substr(0, 4), "RIFF");
    EXPECT_EQ(audio.substr(8, 8), "WAVEfmt ");
    // A demo meeting has no audio: a 3-second tone stands in for it.
    const Wav tone = read_wav(audio);
    EXPECT_EQ(tone.sample_rate, 16000);
    EXPECT_EQ(tone.channels, 1);
    EXPECT_EQ(tone.samples.size(), 48000u);
    EXPECT_GT(*std::ranges::max_element(tone.samples), 6000);
  }
  EXPECT_TRUE(home.read("out/a.pdf").starts_with("%PDF-"));
  if (fs::exists("/usr/bin/pdftotext")) {
    auto text = run_program("/usr/bin/pdftotext", {dir + "/a.pdf", "-"}, {env, "", home.path()});
    EXPECT_NE(text.out.find("Plans <&> \"Q1\""), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("Morning everyone"), std::string::npos);
  }

  auto unwritable = run({"meetings", "export", "3f1c", "/nonexistent/dir/a.md", "--no-launch"});
  EXPECT_EQ(unwritable.exit_code, 1);
  EXPECT_TRUE(
      unwritable.err.starts_with("error: Cannot write /nonexistent/dir/a.md: No such file"));
}

// Import and export take regular files only, judged by what was opened: a
// FIFO, a folder, a device or (to write) a link is refused by name, and the
// app goes on answering.
TEST_F(StandIn, ImportAndExportTakeRegularFilesOnly) {
  const std::string fifo_in = home / "in.fifo";
  const std::string fifo_out = home / "out.fifo";
  ASSERT_EQ(::mkfifo(fifo_in.c_str(), 0600), 0);
  ASSERT_EQ(::mkfifo(fifo_out.c_str(), 0600), 0);
  // A reader at the other end: an export that took the FIFO would succeed.
  const int reader = ::open(fifo_out.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  const std::string folder = home.mkdir("folder");
  home.write("kept.md", "keep me");
  fs::create_symlink(home / "kept.md", home / "link.md");

  struct Case {
    std::vector<std::string> command;
    std::string path;
  };
  const std::vector<Case> cases = {
      {{"meetings", "import"}, fifo_in},
      {{"meetings", "import"}, folder},
      {{"meetings", "import"}, "/dev/zero"},
      {{"meetings", "export", "3f1c"}, fifo_out},
      {{"meetings", "export", "3f1c"}, folder},
      {{"meetings", "export", "3f1c"}, "/dev/zero"},
      {{"meetings", "export", "3f1c"}, home / "link.md"},
      {{"meetings", "export-audio", "3f1c"}, "/dev/null"},
  };
  for (const auto& c : cases) {
    auto args = c.command;
    args.push_back(c.path);
    if (args[1] == "export") args.insert(args.end(), {"--format", "markdown"});
    args.push_back("--no-launch");
    auto refused = run(args);
    EXPECT_EQ(refused.exit_code, 1) << c.path;
    EXPECT_EQ(refused.err, "error: " + c.path + " is not a regular file\n") << args[1];
    EXPECT_EQ(cli_json({"ping"})["pong"], true);
  }
  ::close(reader);
  EXPECT_EQ(home.read("kept.md"), "keep me");
  EXPECT_EQ(run({"meetings", "import", home / "none.wav", "--no-launch"}).err,
            "error: Cannot import " + (home / "none.wav") + ": no such file.\n");
}

// The system takes a NUL in a path for its end: "report.txt\0.wav" would
// open report.txt. Every command that takes a path refuses such a path by
// name, and the file that the shorter path names is left alone.
TEST_F(StandIn, APathWithANulIsRefused) {
  home.write("report.txt", "my report");
  const std::string id = cli_json({"meetings", "show", "3f1c"})["id"];
  const std::string path = (home / "report.txt") + std::string(1, '\0') + ".wav";
  const std::vector<std::pair<std::string, json>> requests = {
      {"import_media", {{"path", path}}},
      {"export_meeting",
       {{"id", id}, {"path", path}, {"format", "wav"}, {"transcriptVersion", "recognized"}}},
      {"export_meeting",
       {{"id", id}, {"path", path}, {"format", "markdown"}, {"transcriptVersion", "recognized"}}},
      {"export_meeting_audio", {{"id", id}, {"path", path}}},
  };
  for (const auto& [command, args] : requests) {
    SCOPED_TRACE(args.dump());
    auto refused = run({"invoke", command, args.dump(), "--no-launch"});
    EXPECT_EQ(refused.exit_code, 1);
    EXPECT_EQ(refused.err, "error: Argument `path` must not contain a NUL character.\n");
    EXPECT_TRUE(home.read("report.txt") == "my report") << "report.txt was overwritten";
  }
  EXPECT_EQ(cli_json({"meetings", "list"}).size(), 3u);
}

// Slow work (here a PDF of megabytes of notes) runs outside the app's lock:
// other clients are answered while it runs, as the app itself says.
TEST_F(StandIn, OtherClientsAreAnsweredWhileAnExportRenders) {
  std::string notes;
  for (int i = 0; notes.size() < 4'000'000; ++i) {
    notes += "Line " + std::to_string(i) + " of the notes, with words to lay across the page.\n";
  }
  home.write("notes.txt", notes);
  cli_json({"meetings", "set-notes", "3f1c", "--file", home / "notes.txt"});
  std::atomic<bool> exported{false};
  RunResult export_result;
  std::thread exporter([&] {
    export_result = run({"meetings", "export", "3f1c", home / "big.pdf", "--no-launch"});
    exported = true;
  });
  bool answered_meanwhile = false;
  while (!exported && !answered_meanwhile) {
    auto diagnostics = cli_json({"diagnostics"});
    answered_meanwhile = diagnostics.value("/requestsAtWork/export_meeting"_json_pointer, 0) == 1;
    EXPECT_EQ(cli_json({"meetings", "list"}).size(), 3u);
  }
  exporter.join();
  EXPECT_TRUE(answered_meanwhile);
  EXPECT_EQ(export_result.exit_code, 0) << export_result.err;
  EXPECT_TRUE(home.read("big.pdf").starts_with("%PDF-"));
  EXPECT_EQ(cli_json({"diagnostics"})["requestsAtWork"], json::object());
}

int connect_to(const std::string& path) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// What the peer sends until it closes, giving up after a minute of silence.
std::string read_to_end(int fd) {
  timeval patience{60, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
  std::string text;
  char buffer[4096];
  for (ssize_t got; (got = ::read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, got);
  return text;
}

// Sends one request line and leaves the connection open for its answer.
int send_line(const std::string& path, const std::string& line) {
  const int fd = connect_to(path);
  if (fd >= 0 && ::send(fd, line.data(), line.size(), MSG_NOSIGNAL) !=
                     static_cast<ssize_t>(line.size())) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Connections closed when the test ends, whatever it found.
struct Connections {
  std::vector<int> fds;
  ~Connections() {
    for (int fd : fds) ::close(fd);
  }
};

// Waits until the peer has sent something (or closed), for a minute at most.
bool readable(int fd) {
  pollfd watched{fd, POLLIN, 0};
  return ::poll(&watched, 1, 60'000) == 1;
}

// Waits until the peer has closed its end, whatever is still unread here,
// for a minute at most.
bool closed_by_peer(int fd) {
  pollfd watched{fd, POLLRDHUP, 0};
  return ::poll(&watched, 1, 60'000) == 1 && (watched.revents & POLLRDHUP) != 0;
}

constexpr const char* kBusy =
    R"({"error":"Murmela is busy: 128 connections are open, the most it serves at once. Try )"
    R"(again shortly.","ok":false})"
    "\n";

// Silent connections cannot lock anyone out, however many one client holds:
// past a limit the one that has waited longest for its request is told the
// app is busy, and whoever sends a request is answered.
TEST_F(StandIn, SilentConnectionsLeaveRequestsAnswered) {
  constexpr int kSilent = 140;
  std::vector<int> silent;
  for (int i = 0; i < kSilent; ++i) {
    silent.push_back(connect_to(socket_path()));
    ASSERT_GE(silent.back(), 0);
  }
  auto pinged = run({"ping", "--no-launch"});
  EXPECT_EQ(pinged.exit_code, 0) << pinged.err;
  EXPECT_EQ(read_to_end(silent.front()), kBusy);
  EXPECT_EQ(read_to_end(silent[kSilent - 129]), kBusy);
  for (int fd : silent) ::close(fd);
  EXPECT_TRUE(answers_ping());
}

// A second stand-in on the same folder never takes the socket from the
// first: not when the first is at its limit of connections and answers
// "busy", and not when whatever it locks by name has been removed.
TEST_F(StandIn, ASecondInstanceIsRefusedWhileTheFirstIsBusy) {
  std::vector<int> idle;
  for (int i = 0; i < 128; ++i) {
    idle.push_back(connect_to(socket_path()));
    ASSERT_GE(idle.back(), 0);
  }
  fs::remove(data_folder() + "/stand-in.lock");
  std::atomic<bool> ended{false};
  RunResult second;
  std::thread starter([&] {
    second = run_program(kStandInPath, {"--startup"}, {env, "", home.path()});
    ended = true;
  });
  for (int i = 0; i < 3000 && !ended; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  for (int fd : idle) ::close(fd);
  if (!ended) {
    // It took the socket: it is told to quit, and the first one is ended too.
    app_answers("quit_app");
    ::kill(app, SIGTERM);
  }
  starter.join();
  EXPECT_EQ(second.exit_code, 1);
  EXPECT_NE(second.err.find("already running"), std::string::npos) << second.err;

  // The first one still serves, and keeps what it is told.
  cli_json({"meetings", "rename", "3f1c", "Renamed through the first"});
  EXPECT_EQ(cli_json({"meetings", "show", "3f1c"})["title"], "Renamed through the first");
}

// Requests that wait for a job (a transcription without --detach) do not
// count against the requests answered at once: with more of them waiting
// than that limit, the job can still be looked at and cancelled, and each
// waiting request then hears that it was.
TEST_F(StandIn, WaitingRequestsLeaveRoomToCancelTheirJob) {
  constexpr int kWaiting = 140;
  const std::string id = "3f1c9a2e7b8d4c6f9e0a1b2c3d4e5f60";
  const std::string line =
      R"({"version":1,"command":"transcribe_meeting","args":{"id":")" + id + "\"}}\n";
  std::vector<int> waiting;
  for (int i = 0; i < kWaiting; ++i) {
    waiting.push_back(send_line(socket_path(), line));
    ASSERT_GE(waiting.back(), 0);
  }
  // Asks until every request is waiting for the job.
  int seen = 0;
  for (int i = 0; i < 1000 && seen != kWaiting; ++i) {
    auto diagnostics = run({"diagnostics", "--no-launch"});
    if (diagnostics.exit_code == 0) {
      seen = json::parse(diagnostics.out)
                 .value("/requestsAtWork/transcribe_meeting"_json_pointer, 0);
    }
    if (seen != kWaiting) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_EQ(seen, kWaiting);
  EXPECT_EQ(cli_json({"meetings", "show", id})["status"], "transcribing");
  auto cancelled = run({"meetings", "cancel", id, "--no-launch"});
  EXPECT_EQ(cancelled.exit_code, 0) << cancelled.err;
  for (int fd : waiting) {
    EXPECT_EQ(read_to_end(fd), R"({"error":"The job was cancelled.","ok":false})"
                               "\n");
    ::close(fd);
  }
}

// A request and its reply, from this process, giving up after a minute.
std::string ask(const std::string& path, const std::string& line) {
  const int fd = send_line(path, line);
  if (fd < 0) return {};
  std::string reply = read_to_end(fd);
  ::close(fd);
  return reply;
}

// Under a low limit on descriptors, requests waiting for a job take only
// their share of the connections the app can hold: a ping and the cancel of
// the job still get through, and the waits past that share hear at once
// that the app is busy.
TEST_F(StandIn, WaitsUnderALowDescriptorLimitLeaveRoomToCancel) {
  if (!fs::exists("/usr/bin/prlimit")) GTEST_SKIP() << "prlimit is not installed";
  app_answers("quit_app");
  ::waitpid(app, nullptr, 0);
  SpawnVectors vectors("/usr/bin/prlimit", {"--nofile=300", kStandInPath, "--startup"}, env);
  ASSERT_EQ(posix_spawn(&app, "/usr/bin/prlimit", nullptr, nullptr, vectors.argv(), vectors.envp()),
            0);
  ASSERT_TRUE(answers_ping());
  // Should the app be shut off from its clients, nothing would end it.
  struct EndOnFailure {
    pid_t& app;
    ~EndOnFailure() {
      if (!::testing::Test::HasFailure()) return;
      ::kill(app, SIGKILL);
      ::waitpid(app, nullptr, 0);
      app = -1;
    }
  } end_on_failure{app};

  constexpr int kWaits = 95;
  const std::string id = "3f1c9a2e7b8d4c6f9e0a1b2c3d4e5f60";
  const std::string line =
      R"({"version":1,"command":"transcribe_meeting","args":{"id":")" + id + "\"}}\n";
  Connections waits;
  for (int i = 0; i < kWaits; ++i) {
    waits.fds.push_back(send_line(socket_path(), line));
    ASSERT_GE(waits.fds.back(), 0);
  }
  // Asks until each request waits for the job or has been answered.
  const std::string diagnostics_line =
      R"({"version":1,"command":"get_diagnostics","args":{},"detach":false})"
      "\n";
  int waiting = 0;
  std::vector<int> answered;
  for (int i = 0; i < 10'000 && waiting + static_cast<int>(answered.size()) != kWaits; ++i) {
    const auto diagnostics = json::parse(ask(socket_path(), diagnostics_line), nullptr, false);
    ASSERT_TRUE(diagnostics.is_object()) << "no answer to get_diagnostics";
    waiting = diagnostics.value("/result/requestsAtWork/transcribe_meeting"_json_pointer, 0);
    std::vector<pollfd> watched;
    for (int fd : waits.fds) watched.push_back({fd, POLLIN, 0});
    ::poll(watched.data(), watched.size(), 10);
    answered.clear();
    for (const pollfd& each : watched)
      if (each.revents != 0) answered.push_back(each.fd);
  }
  ASSERT_EQ(waiting + static_cast<int>(answered.size()), kWaits);
  EXPECT_GT(waiting, 0);

  auto pinged = run({"ping", "--no-launch"});
  ASSERT_EQ(pinged.exit_code, 0) << pinged.err;
  auto cancelled = run({"meetings", "cancel", id, "--no-launch"});
  ASSERT_EQ(cancelled.exit_code, 0) << cancelled.err;
  const std::string busy = R"({"error":"Murmela is busy: )" + std::to_string(waiting) +
                           R"( requests are waiting for jobs to end, the most it keeps at once. )"
                           R"(Use --detach, or try again shortly.","ok":false})"
                           "\n";
  for (int fd : waits.fds) {
    const bool turned_away = std::ranges::find(answered, fd) != answered.end();
    EXPECT_EQ(read_to_end(fd), turned_away ? busy
                                           : R"({"error":"The job was cancelled.","ok":false})"
                                             "\n");
  }
}

// However it is ended, the app ends its connections before it exits: a
// request still being sent is dropped, a request waiting for a job hears
// why it will not end, and what it was told before is kept.
TEST_F(StandIn, EndsItsConnectionsAndKeepsTheLibraryWhenItQuits) {
  const std::string kept = data_folder() + "/stand-in-library.json";
  const std::string id = "3f1c9a2e7b8d4c6f9e0a1b2c3d4e5f60";
  const std::string line =
      R"({"version":1,"command":"transcribe_meeting","args":{"id":")" + id + "\"}}\n";
  struct Case {
    const char* how;
    int signal;  // 0: asked with quit_app
  };
  for (const Case& c : {Case{"quit_app", 0}, Case{"SIGTERM", SIGTERM}, Case{"SIGINT", SIGINT}}) {
    SCOPED_TRACE(c.how);
    if (app <= 0) {
      app = start();
      ASSERT_TRUE(answers_ping());
    }
    cli_json({"meetings", "rename", id, std::string("Renamed before ") + c.how});
    const int sending = connect_to(socket_path());
    ASSERT_GE(sending, 0);
    const std::string started = R"({"version":1,"command":)";
    ASSERT_EQ(::send(sending, started.data(), started.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(started.size()));
    const int waiting = send_line(socket_path(), line);
    ASSERT_GE(waiting, 0);
    int seen = 0;
    for (int i = 0; i < 3000 && seen != 1; ++i) {
      auto diagnostics = run({"diagnostics", "--no-launch"});
      if (diagnostics.exit_code == 0) {
        seen = json::parse(diagnostics.out)
                   .value("/requestsAtWork/transcribe_meeting"_json_pointer, 0);
      }
      if (seen != 1) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_EQ(seen, 1);

    if (c.signal == 0) {
      EXPECT_TRUE(app_answers("quit_app"));
    } else {
      ::kill(app, c.signal);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(app, &status, 0), app);
    app = -1;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(read_to_end(waiting), R"({"error":"Murmela quit before the job ended.","ok":false})"
                                    "\n");
    EXPECT_EQ(read_to_end(sending), "");
    ::close(waiting);
    ::close(sending);
    EXPECT_FALSE(fs::exists(socket_path()));
    const json library = json::parse(home.read(kept.substr(home.path().size() + 1)), nullptr, false);
    EXPECT_NE(library.dump().find(std::string("Renamed before ") + c.how), std::string::npos);
  }
}

// A recognition running when the app quits is stopped and joined before the
// app is torn down; what it was cut short of is not the meeting's result.
TEST_F(StandIn, QuittingStopsARecognitionAndKeepsItsMeeting) {
  if (!fs::exists("/usr/bin/flite") ||
      !fs::exists("/usr/share/pocketsphinx/model/en-us/en-us/mdef")) {
    GTEST_SKIP() << "flite or the speech model is not installed";
  }
  const std::string spoken = home / "spoken.wav";
  auto made = run_program("/usr/bin/flite",
                          {"-voice", "slt", "-t", "The budget review moves to Friday.", "-o",
                           spoken},
                          {env, "", home.path()});
  ASSERT_EQ(made.exit_code, 0) << made.err;
  const Wav sentence = read_wav(read_file_text(spoken));
  // A minute of speech: long enough that the quit lands while it is heard.
  const Wav minute = repeated_for(sentence, 60);
  home.write("long.wav", wav_file_bytes(minute));
  const std::string id = cli_json({"meetings", "import", home / "long.wav"})["id"];
  step();  // past importing: now it is transcribing
  ASSERT_EQ(cli_json({"meetings", "show", id})["status"], "transcribing");

  EXPECT_TRUE(app_answers("quit_app"));
  int status = 0;
  ASSERT_EQ(::waitpid(app, &status, 0), app);
  app = -1;
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  const json library =
      json::parse(home.read(".local/share/Murmela/stand-in-library.json"), nullptr, false);
  ASSERT_TRUE(library.is_object());
  bool found = false;
  for (const json& meeting : library.value("meetings", json::array())) {
    if (meeting.value("id", "") != id) continue;
    found = true;
    EXPECT_NE(meeting.value("status", ""), "failed") << meeting.dump();
    EXPECT_NE(meeting.value("status", ""), "cancelled") << meeting.dump();
  }
  EXPECT_TRUE(found);
}

// The request deadline made short, so that the test need not wait out the
// ten seconds a client has by default.
class StandInQuickDeadline : public StandIn {
 protected:
  void SetUp() override {
    env["MURMELA_STAND_IN_REQUEST_DEADLINE_S"] = "1";
    StandIn::SetUp();
  }
};

// A request line that never ends is answered after the deadline, with why;
// other clients are served meanwhile and after.
TEST_F(StandInQuickDeadline, ARequestLineHasADeadline) {
  const int slow = connect_to(socket_path());
  ASSERT_GE(slow, 0);
  const std::string started = R"({"version":1,"command":)";
  ASSERT_EQ(::send(slow, started.data(), started.size(), MSG_NOSIGNAL),
            static_cast<ssize_t>(started.size()));
  EXPECT_TRUE(app_answers("ping"));
  EXPECT_EQ(read_to_end(slow),
            R"({"error":"The request line did not arrive within 1 s.","ok":false})"
            "\n");
  ::close(slow);
  EXPECT_TRUE(answers_ping());
}

// The reply deadline made short, so that a client that never reads its reply
// is let go of in a second rather than ten.
class StandInQuickReplyDeadline : public StandIn {
 protected:
  void SetUp() override {
    env["MURMELA_STAND_IN_REPLY_DEADLINE_S"] = "1";
    StandIn::SetUp();
  }
};

// Clients that ask for a big reply and never read it cannot keep a ping or a
// cancel out: a reply being sent is counted apart from the requests being
// answered, and one the client does not take within the deadline is
// dropped, the connection with it.
TEST_F(StandInQuickReplyDeadline, UnreadRepliesLeaveRequestsAnswered) {
  home.write("notes.txt", std::string(2 << 20, 'n'));
  cli_json({"meetings", "set-notes", "3f1c", "--file", home / "notes.txt"});
  const std::string id = "3f1c9a2e7b8d4c6f9e0a1b2c3d4e5f60";
  const std::string line =
      R"({"version":1,"command":"get_meeting","args":{"id":")" + id + "\"}}\n";
  constexpr int kUnread = 130;
  Connections unread;
  // One at a time, each reply begun before the next request is sent: so many
  // requests at once would find every answering slot taken for a moment and
  // be told the app is busy, which is not what this shows.
  for (int i = 0; i < kUnread; ++i) {
    unread.fds.push_back(send_line(socket_path(), line));
    ASSERT_GE(unread.fds.back(), 0);
    ASSERT_TRUE(readable(unread.fds.back()));
  }

  auto pinged = run({"ping", "--no-launch"});
  ASSERT_EQ(pinged.exit_code, 0) << pinged.err;
  auto shown = run({"meetings", "show", id, "--no-launch"});
  ASSERT_EQ(shown.exit_code, 0) << shown.err;

  // Each unread reply was cut off at the deadline: what had been sent, and
  // then the end of the connection, never a whole line.
  for (int fd : unread.fds) {
    ASSERT_TRUE(closed_by_peer(fd));
    const std::string got = read_to_end(fd);
    EXPECT_TRUE(got.starts_with(R"({"ok":true,"result":{)")) << got.substr(0, 80);
    EXPECT_FALSE(got.ends_with('\n'));
  }
  EXPECT_TRUE(answers_ping());
}

// Without labels a transcript names no speakers, the demo meetings' too.
TEST_F(StandIn, AnUnlabelledDemoTranscriptHasNoSpeakers) {
  cli_json({"settings", "set", "meetingSpeakerLabels=false"});
  for (const char* id : {"8a4b2", "8a4be"}) {
    stepped_json({"meetings", "transcribe", id});
    EXPECT_EQ(cli_json({"meetings", "speakers", id})["speakers"], json::array()) << id;
  }
}

// The workflow the agent guide teaches, step by step, against the stand-in.
TEST_F(StandIn, TypicalMeetingWorkflowOfTheGuide) {
  EXPECT_EQ(cli_json({"meetings", "list"}).size(), 3u);
  auto joined = cli_json({"meetings", "join", "8a4b2", "8a4be", "--title", "Client call"});
  const std::string id = joined["id"];
  EXPECT_EQ(joined["title"], "Client call");
  EXPECT_EQ(joined["status"], "finalizing");  // transcription queues behind it
  EXPECT_EQ(stepped_json({"meetings", "transcribe", id})["status"], "ready");
  auto speakers = cli_json({"meetings", "speakers", id})["speakers"];
  ASSERT_EQ(speakers.size(), 2u);
  cli_json({"meetings", "rename-speaker", id, "You", "Tomas Reeves"});
  cli_json({"meetings", "rename-speaker", id, "Other speakers", "Ana Pike"});
  auto transcript = run({"meetings", "transcript", id, "--no-launch"});
  EXPECT_TRUE(transcript.out.starts_with("Tomas Reeves: Thanks for joining.")) << transcript.out;
  EXPECT_NE(transcript.out.find("\nAna Pike: "), std::string::npos);
  home.write("work/notes.md", "# Call\n- first drop before January\n");
  EXPECT_EQ(cli_json({"meetings", "set-notes", id, "--file", home / "work/notes.md"})["notesChars"],
            35);
  auto exported = run({"meetings", "export", id, "call.md", "--no-launch"}, "", home / "work");
  EXPECT_EQ(exported.exit_code, 0) << exported.err;
  EXPECT_EQ(json::parse(exported.out)["exported"], home / "work/call.md");
  const std::string markdown = home.read("work/call.md");
  EXPECT_NE(markdown.find("**Ana Pike:** Yes, we need the first drop"), std::string::npos);
  EXPECT_NE(markdown.find("- first drop before January"), std::string::npos);
}

// Every letter shows in a PDF: it is laid out by pango with real fonts, and
// read back from the rendered file.
TEST_F(StandIn, PdfShowsEveryLetter) {
  if (!fs::exists("/usr/bin/pdftotext") || !fs::exists("/usr/bin/pdftoppm")) {
    GTEST_SKIP() << "poppler-utils is not installed";
  }
  const std::string title = "Grüße aus Köln — Привет";
  cli_json({"meetings", "rename", "3f1c", title});
  cli_json({"meetings", "set-notes", "3f1c", "--text", "Ça va? Ελληνικά, 日本語"});
  cli_json({"meetings", "export", "3f1c", home / "call.pdf"});

  auto text = run_program("/usr/bin/pdftotext", {home / "call.pdf", "-"}, {env, "", home.path()});
  EXPECT_NE(text.out.find(title), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("Ça va? Ελληνικά"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("You: Morning everyone"), std::string::npos) << text.out;
  auto rendered =
      run_program("/usr/bin/pdftoppm", {"-r", "40", "-png", home / "call.pdf", home / "page"},
                  {env, "", home.path()});
  EXPECT_EQ(rendered.exit_code, 0) << rendered.err;
  EXPECT_EQ(rendered.err, "");
  EXPECT_TRUE(fs::exists(home / "page-1.png"));
}

// A PDF keeps every paragraph whole, however long, shows a NUL as a visible
// character, and carries the meeting's title as its own.
TEST_F(StandIn, PdfKeepsEveryParagraphWholeAndTheTitle) {
  if (!fs::exists("/usr/bin/pdftotext") || !fs::exists("/usr/bin/pdfinfo")) {
    GTEST_SKIP() << "poppler-utils is not installed";
  }
  const std::string title = "Plans <&> \"Q1\" für Köln";
  cli_json({"meetings", "rename", "3f1c", title});
  // One line of about 400 KB, numbered words, then a line holding a NUL.
  const auto numbered = [](int i) {
    char word[16];
    std::snprintf(word, sizeof word, "w%06d", i);
    return std::string(word);
  };
  std::string notes;
  constexpr int kWords = 50'000;
  for (int i = 0; i < kWords; ++i) notes += numbered(i) + " ";
  notes += "\nbefore";
  notes += '\0';
  notes += "after the NUL\n";
  home.write("notes.txt", notes);
  cli_json({"meetings", "set-notes", "3f1c", "--file", home / "notes.txt"});
  cli_json({"meetings", "export", "3f1c", home / "call.pdf"});

  auto text = run_program("/usr/bin/pdftotext", {home / "call.pdf", "-"}, {env, "", home.path()});
  ASSERT_EQ(text.exit_code, 0) << text.err;
  std::istringstream words(text.out);
  int next = 0;
  for (std::string word; words >> word && next < kWords;) {
    if (word == numbered(next)) ++next;
  }
  EXPECT_EQ(next, kWords) << "the notes stop after word " << next;
  EXPECT_NE(text.out.find("before\uFFFDafter the NUL"), std::string::npos);

  auto info = run_program("/usr/bin/pdfinfo", {home / "call.pdf"}, {env, "", home.path()});
  std::istringstream lines(info.out);
  std::string line;
  while (std::getline(lines, line) && !line.starts_with("Title:")) {
  }
  EXPECT_EQ(line.substr(std::min(line.size(), line.find_first_not_of(' ', 6))), title) << info.out;
}

// The notes' own headings sit below the export's "## Notes" heading.
TEST_F(StandIn, MarkdownNestsTheNotesHeadingsUnderNotes) {
  cli_json({"meetings", "set-notes", "3f1c", "--text",
            "# Plan\n- ship\n```\n# a comment\n```\n##### Deep\n#hashtag"});
  cli_json({"meetings", "export", "3f1c", home / "call.md"});
  const std::string markdown = home.read("call.md");
  EXPECT_NE(
      markdown.find("## Notes\n\n### Plan\n- ship\n```\n# a comment\n```\n###### Deep\n#hashtag\n"),
      std::string::npos)
      << markdown;
}

TEST_F(StandIn, RecordingLifecycle) {
  auto started = cli_json({"meetings", "record", "start", "--title", "Standup"});
  EXPECT_EQ(started["status"], "recording");
  EXPECT_EQ(cli_json({"status"})["meetingRecording"], true);
  EXPECT_EQ(run({"meetings", "record", "start", "--no-launch"}).exit_code, 1);
  EXPECT_EQ(cli_json({"meetings", "record", "stop"})["status"], "finalizing");
  step();
  EXPECT_EQ(cli_json({"meetings", "show", "latest"})["status"], "transcribing");
  auto done = stepped_json({"meetings", "wait", "latest"});
  EXPECT_EQ(done["status"], "ready");
  EXPECT_EQ(done["title"], "Standup");
  home.write("talk.wav", wav_file_bytes({16000, 1, std::vector<std::int16_t>(16000)}));
  auto imported = run({"meetings", "import", "talk.wav", "--no-launch"}, "", home.path());
  EXPECT_EQ(json::parse(imported.out)["status"], "importing");
  EXPECT_EQ(run({"meetings", "delete", "latest", "--yes", "--no-launch"}).exit_code,
            1);  // still busy
}

}  // namespace
