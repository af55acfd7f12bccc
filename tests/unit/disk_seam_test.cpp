#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "agent_integration/integration.hpp"
#include "common/atomic_file.hpp"
#include "common/disk.hpp"
#include "temp_dir.hpp"

using namespace murmela;
using testing_support::names_in;
using testing_support::TempDir;

namespace {

// The real disk, with each step written down; a step named in `failing`
// fails with EIO instead of running.
class RecordingDisk : public Disk {
 public:
  std::vector<std::string> steps;
  std::string failing;

  std::expected<int, SystemError> create_temporary(std::string& name) override {
    if (auto failed = step("create")) return std::unexpected(*failed);
    return real_disk().create_temporary(name);
  }
  std::expected<void, SystemError> write(int fd, std::string_view text) override {
    if (auto failed = step("write")) return std::unexpected(*failed);
    return real_disk().write(fd, text);
  }
  std::expected<void, SystemError> change_mode(int fd, mode_t mode) override {
    if (auto failed = step("mode")) return std::unexpected(*failed);
    return real_disk().change_mode(fd, mode);
  }
  std::expected<void, SystemError> sync(int fd) override {
    if (auto failed = step("sync")) return std::unexpected(*failed);
    return real_disk().sync(fd);
  }
  std::expected<void, SystemError> close(int fd) override {
    auto closed = real_disk().close(fd);  // the descriptor goes whatever is reported
    if (auto failed = step("close")) return std::unexpected(*failed);
    return closed;
  }
  std::expected<void, SystemError> rename(const std::string& from, const std::string& to) override {
    if (auto failed = step("rename", to)) return std::unexpected(*failed);
    return real_disk().rename(from, to);
  }
  void remove(const std::string& path) override {
    steps.push_back("remove");
    real_disk().remove(path);
  }
  void sync_folder(const std::string& folder) override {
    steps.push_back("sync folder");
    real_disk().sync_folder(folder);
  }
  std::expected<std::string, SystemError> read(const std::string& path) override {
    if (auto failed = step("read", path)) return std::unexpected(*failed);
    return real_disk().read(path);
  }
  std::expected<void, SystemError> append(const std::string& path, std::string_view bytes) override {
    if (auto failed = step("append", path)) return std::unexpected(*failed);
    return real_disk().append(path, bytes);
  }
  std::expected<std::string, SystemError> read_link(const std::string& path) override {
    if (auto failed = step("read link", path)) return std::unexpected(*failed);
    return real_disk().read_link(path);
  }
  std::expected<void, SystemError> make_link(const std::string& target, const std::string& link) override {
    if (auto failed = step("make link", link)) return std::unexpected(*failed);
    return real_disk().make_link(target, link);
  }
  std::expected<void, SystemError> unlink(const std::string& path) override {
    if (auto failed = step("unlink", path)) return std::unexpected(*failed);
    return real_disk().unlink(path);
  }
  std::expected<void, SystemError> make_folders(const std::string& path) override {
    if (auto failed = step("make folders", path)) return std::unexpected(*failed);
    return real_disk().make_folders(path);
  }
  std::expected<void, SystemError> lock(int fd) override {
    if (auto failed = step("lock")) return std::unexpected(*failed);
    return real_disk().lock(fd);
  }
  void unlock(int fd) override {
    steps.push_back("unlock");
    real_disk().unlock(fd);
  }

  // The steps on a named file, as "step path"; `failing_path`, when set,
  // makes the failing step fail on that file only.
  std::vector<std::string> on_files;
  std::string failing_path;

 protected:
  std::optional<SystemError> step(const std::string& name) {
    steps.push_back(name);
    return name == failing ? std::optional<SystemError>(SystemError{EIO, {}}) : std::nullopt;
  }
  std::optional<SystemError> step(const std::string& name, const std::string& path) {
    on_files.push_back(name + " " + path);
    auto failed = step(name);
    return failing_path.empty() || path == failing_path ? failed : std::nullopt;
  }
};

// A reader after a crash sees the old file or the whole new one: the data
// and its mode are on disk before the rename makes them the file, and the
// rename is on disk before the write counts as done.
TEST(DiskSeam, AWholeFileReplacementStepsInTheOrderThatSurvivesACrash) {
  TempDir dir;
  dir.write("mcp.json", "old");
  RecordingDisk disk;
  ASSERT_TRUE(write_atomically(dir / "mcp.json", "new", 0666, disk));
  EXPECT_EQ(disk.steps, (std::vector<std::string>{"create", "write", "mode", "sync", "close",
                                                  "rename", "sync folder"}));
  EXPECT_EQ(dir.read("mcp.json"), "new");

  RecordingDisk private_disk;
  ASSERT_TRUE(replace_private_file(dir / "marker", "new", private_disk));
  EXPECT_EQ(private_disk.steps, disk.steps);
}

// Whatever step fails, the old file is left whole, the temporary file is
// gone, nothing is renamed after the failure, and the error says why.
TEST(DiskSeam, AFailedStepLeavesTheOldFileAndNothingElse) {
  const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
      {"create", {"create"}},
      {"write", {"create", "write", "close", "remove"}},
      {"mode", {"create", "write", "mode", "close", "remove"}},
      {"sync", {"create", "write", "mode", "sync", "close", "remove"}},
      {"close", {"create", "write", "mode", "sync", "close", "remove"}},
      {"rename", {"create", "write", "mode", "sync", "close", "rename", "remove"}},
  };
  for (const auto& [failing, steps] : cases) {
    TempDir dir;
    dir.write("config.toml", "old");
    RecordingDisk disk;
    disk.failing = failing;
    auto written = write_atomically(dir / "config.toml", "new", 0666, disk);
    ASSERT_FALSE(written) << failing;
    EXPECT_EQ(written.error(),
              "Cannot write " + dir / "config.toml" + ": Input/output error (os error 5)")
        << failing;
    EXPECT_EQ(disk.steps, steps) << failing;
    EXPECT_EQ(dir.read("config.toml"), "old") << failing;
    EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"config.toml"}) << failing;
  }
}

// Another run holds the agents lock; the disk asks (without waiting) whether
// the lock is free when a run wants it. When it is not, that run is blocked
// behind the other: `while_blocked` plays the other run's last write, and
// then the other run lets go.
class LockProbeDisk : public RecordingDisk {
 public:
  int other_run = -1;
  std::function<void()> while_blocked;
  bool was_blocked = false;

  std::expected<void, SystemError> lock(int fd) override {
    steps.push_back("lock");
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
      was_blocked = true;
      while_blocked();
      ::flock(other_run, LOCK_UN);
    }
    return real_disk().lock(fd);
  }
};

struct AgentsHome {
  TempDir dir;
  AgentEnvironment environment;

  AgentsHome() {
    dir.mkdir("home/.cursor");
    dir.mkdir("empty");
    dir.mkdir("data");
    environment.cli_path = dir.write("opt/murmela/murmela-cli", "");
    ::chmod(environment.cli_path.c_str(), 0755);
    environment.data_folder = dir / "data";
    environment.home = dir / "home";
    environment.search_path = dir / "empty";
  }

  std::string cursor_file() const { return dir / "home/.cursor/mcp.json"; }

  nlohmann::json servers(const std::vector<const char*>& names) const {
    nlohmann::json servers = nlohmann::json::object();
    for (const std::string name : names) {
      servers[name] = name == "murmela"
                          ? nlohmann::json{{"command", environment.cli_path}, {"args", {"mcp"}}}
                          : nlohmann::json{{"command", "/usr/bin/" + name}};
    }
    return {{"mcpServers", servers}};
  }
};

// What is at `path`: a link's target, a file's text, or nothing.
std::optional<std::string> read_link_or_file(const std::string& path) {
  std::error_code error;
  if (std::filesystem::is_symlink(path, error))
    return "-> " + std::filesystem::read_symlink(path).string();
  if (!std::filesystem::exists(path, error)) return std::nullopt;
  return testing_support::read_file_text(path);
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

// Every run that writes takes the agents lock before it reads what it will
// change, and keeps it to its last write: a run that starts while another is
// mid-write waits for it, and the other's change survives. Status only reads.
TEST(DiskSeam, EveryRunThatWritesWaitsForTheAgentsLockSoNoUpdateIsLost) {
  struct Case {
    const char* run;
    std::function<std::optional<Reports>(const AgentEnvironment&, Disk&)> start;
    std::vector<const char*> before;
    bool ours_after;
  };
  const std::vector<Case> cases = {
      {"install",
       [](const auto& e, Disk& d) { return run_integration(IntegrationMode::Install, e, d); },
       {},
       true},
      {"remove",
       [](const auto& e, Disk& d) { return run_integration(IntegrationMode::Remove, e, d); },
       {"murmela"},
       false},
      {"ensure", [](const auto& e, Disk& d) { return ensure_integration(e, d); }, {}, true},
  };
  for (const Case& c : cases) {
    AgentsHome home;
    home.dir.write("home/.cursor/mcp.json", home.servers(c.before).dump());
    std::vector<const char*> with_other(c.before);
    with_other.push_back("other");

    const int other_run = ::open((home.dir / "data/agent-integration.lock").c_str(),
                                 O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_EQ(::flock(other_run, LOCK_EX), 0);
    LockProbeDisk disk;
    disk.other_run = other_run;
    disk.while_blocked = [&] {
      nlohmann::json edited = nlohmann::json::parse(home.dir.read("home/.cursor/mcp.json"));
      edited["mcpServers"]["other"] = {{"command", "/usr/bin/other"}};
      home.dir.write("home/.cursor/mcp.json", edited.dump());
    };
    const auto reports = c.start(home.environment, disk);
    ::close(other_run);

    ASSERT_TRUE(reports) << c.run;
    EXPECT_TRUE(disk.was_blocked) << c.run << " went ahead while another run held the lock";
    const auto servers =
        nlohmann::json::parse(home.dir.read("home/.cursor/mcp.json"))["mcpServers"];
    EXPECT_TRUE(servers.contains("other")) << c.run << " lost the other run's update: " << servers;
    EXPECT_EQ(servers.contains("murmela"), c.ours_after) << c.run << ": " << servers;
    ASSERT_FALSE(disk.steps.empty());
    EXPECT_EQ(disk.steps.front(), "lock") << c.run;
    EXPECT_EQ(disk.steps.back(), "unlock") << c.run;
  }

  AgentsHome home;
  LockProbeDisk disk;
  run_integration(IntegrationMode::Status, home.environment, disk);
  EXPECT_EQ(std::ranges::count(disk.steps, "lock"), 0);
}

// Every file the targets read or change, the link on PATH, the profile, each
// configuration and the marker, is reached through the run's disk, in the
// order the run needs them.
TEST(DiskSeam, TheTargetsReadAndChangeEveryFileThroughTheRunsDisk) {
  AgentsHome home;
  home.dir.mkdir("home/.codex");
  const std::string h = home.dir / "home";
  const std::string data = home.dir / "data";

  RecordingDisk install;
  run_integration(IntegrationMode::Install, home.environment, install);
  EXPECT_EQ(install.on_files, (std::vector<std::string>{
                                  "read link " + h + "/.local/bin/murmela-cli",
                                  "make folders " + h + "/.local/bin",
                                  "make link " + h + "/.local/bin/murmela-cli",
                                  "read " + h + "/.zprofile",
                                  "read " + h + "/.zshrc",
                                  "read " + h + "/.zshenv",
                                  "read " + h + "/.zprofile",
                                  "append " + h + "/.zprofile",
                                  "read " + h + "/.codex/config.toml",
                                  "rename " + h + "/.codex/config.toml",
                                  "read " + h + "/.cursor/mcp.json",
                                  "rename " + h + "/.cursor/mcp.json",
                                  "rename " + data + "/agent-integration.json",
                              }));

  RecordingDisk remove;
  run_integration(IntegrationMode::Remove, home.environment, remove);
  EXPECT_EQ(remove.on_files, (std::vector<std::string>{
                                 "read link " + h + "/.local/bin/murmela-cli",
                                 "read " + h + "/.zprofile",
                                 "rename " + h + "/.zprofile",
                                 "unlink " + h + "/.local/bin/murmela-cli",
                                 "read " + h + "/.codex/config.toml",
                                 "rename " + h + "/.codex/config.toml",
                                 "read " + h + "/.cursor/mcp.json",
                                 "rename " + h + "/.cursor/mcp.json",
                                 "rename " + data + "/agent-integration.json",
                             }));
}

// A step that fails on one target's file makes that target's line "failed"
// with the reason, leaves what it would have changed as it was, and the
// other targets still go through.
TEST(DiskSeam, AFailedReadOrWriteFailsItsTargetAndLeavesItsFileAlone) {
  struct Case {
    IntegrationMode mode;
    std::string failing;
    std::string file;  // in the home folder, like `~/` in the detail
    TargetReport line;
  };
  const std::string eio = "Input/output error (os error 5)";
  const std::vector<Case> cases = {
      {IntegrationMode::Install, "read", ".cursor/mcp.json", {"Cursor", ReportState::Failed, eio}},
      {IntegrationMode::Install,
       "rename",
       ".codex/config.toml",
       {"Codex", ReportState::Failed, "Cannot write ~/.codex/config.toml: " + eio}},
      {IntegrationMode::Install,
       "append",
       ".zprofile",
       {"PATH", ReportState::Failed, "Cannot write ~/.zprofile: " + eio}},
      {IntegrationMode::Install,
       "make link",
       ".local/bin/murmela-cli",
       {"PATH", ReportState::Failed, "~/.local/bin/murmela-cli"}},
      {IntegrationMode::Remove,
       "unlink",
       ".local/bin/murmela-cli",
       {"PATH", ReportState::Failed, "~/.local/bin/murmela-cli"}},
      {IntegrationMode::Remove,
       "rename",
       ".cursor/mcp.json",
       {"Cursor", ReportState::Failed, "Cannot write ~/.cursor/mcp.json: " + eio}},
  };
  for (const Case& c : cases) {
    const std::string name = c.failing + " " + c.file;
    AgentsHome home;
    home.dir.mkdir("home/.codex");
    if (c.mode == IntegrationMode::Remove)
      run_integration(IntegrationMode::Install, home.environment);
    const std::string file = home.dir / ("home/" + c.file);
    const auto before = read_link_or_file(file);

    RecordingDisk disk;
    disk.failing = c.failing;
    disk.failing_path = file;
    const Reports reports = run_integration(c.mode, home.environment, disk);

    TargetReport expected = c.line;
    expected.detail = replaced(*expected.detail, "~/", home.dir / "home/");
    const auto line = std::ranges::find(reports, expected.target, &TargetReport::target);
    ASSERT_NE(line, reports.end()) << name;
    EXPECT_EQ(*line, expected) << name << ": " << line->detail.value_or("");
    EXPECT_EQ(read_link_or_file(file), before) << name;
    for (const TargetReport& other : reports) {
      if (other.target != expected.target) {
        EXPECT_NE(to_string(other.state), "failed") << other.target << " after " << name;
      }
    }
  }
}

}  // namespace
