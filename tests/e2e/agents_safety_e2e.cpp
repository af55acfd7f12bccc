// What `agents` must survive: two runs at once, a kill at any moment, the
// PATH link run through itself, and a umask that would expose its files.
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <thread>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <toml++/toml.h>

#include "agents_fixture.hpp"

using namespace testing_support;
using nlohmann::json;
namespace fs = std::filesystem;

extern char** environ;

namespace {

void write_text(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

mode_t mode_of(const std::string& path) {
  struct stat info {};
  ::stat(path.c_str(), &info);
  return info.st_mode & 07777;
}

class AgentsSafety : public AgentsTest {
 protected:
  void SetUp() override {
    cli = copy_cli_to(home / "opt/a");
    for (const char* folder : {".cursor", ".gemini", ".codex"}) home.mkdir(folder);
    home.write(".gemini/settings.json",
               "{\n  \"theme\": \"dark\",\n  \"mcpServers\": {\"gh\": {\"command\": \"gh\"}}\n}\n");
    home.write(".codex/config.toml", "model = \"o3\"\n\n[mcp_servers.gh]\ncommand = \"gh\"\n");
    home.write(".zprofile", "export EDITOR=vi\n");
  }

  const std::vector<std::string> files = {".cursor/mcp.json", ".gemini/settings.json",
                                          ".codex/config.toml", ".zprofile"};

  std::map<std::string, std::string> snapshot() const {
    std::map<std::string, std::string> texts;
    for (const auto& file : files) texts[file] = fs::exists(home / file) ? home.read(file) : "";
    return texts;
  }

  // Every file parses as what it is and keeps what the user wrote.
  void expect_intact() const {
    for (const auto& file : files) {
      if (!fs::exists(home / file)) continue;
      const std::string text = home.read(file);
      if (file.ends_with(".json")) {
        EXPECT_FALSE(json::parse(text, nullptr, false).is_discarded()) << file << ":\n" << text;
      } else if (file.ends_with(".toml")) {
        EXPECT_TRUE(toml::parse(text)["mcp_servers"]["gh"]["command"] == "gh") << text;
      } else {
        EXPECT_TRUE(text.starts_with("export EDITOR=vi\n")) << text;
      }
    }
    EXPECT_EQ(json::parse(home.read(".gemini/settings.json"))["theme"], "dark");
  }

  std::vector<std::string> leftovers() const {
    std::vector<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(home.path())) {
      if (entry.path().filename().string().find(".murmela-tmp") != std::string::npos)
        found.push_back(entry.path());
    }
    return found;
  }

  pid_t spawn(const std::string& program, const std::string& action) const {
    std::vector<std::string> env_text;
    for (const auto& [k, v] : env) env_text.push_back(k + "=" + v);
    std::vector<char*> envp;
    for (auto& e : env_text) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string agents = "agents", act = action;
    char* argv[] = {const_cast<char*>(program.c_str()), agents.data(), act.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addchdir_np(&actions, home.path().c_str());
    pid_t pid = -1;
    posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return pid;
  }
};

TEST_F(AgentsSafety, TwoRunsAtOnceNeverCorruptAFile) {
  const std::string other = copy_cli_to(home / "opt/b");
  for (int round = 0; round < 25; ++round) {
    const pid_t first = spawn(cli, round % 2 ? "install" : "remove");
    const pid_t second = spawn(other, round % 3 ? "install" : "remove");
    ::waitpid(first, nullptr, 0);
    ::waitpid(second, nullptr, 0);
    expect_intact();
    if (HasFailure()) return;
  }
  // Serialised runs: whichever ran last decides, and its run is complete.
  EXPECT_EQ(run({"agents", "install"}).exit_code, 0);
  EXPECT_EQ(json::parse(home.read(".cursor/mcp.json"))["mcpServers"]["murmela"]["command"], cli);
  EXPECT_TRUE(leftovers().empty());
}

TEST_F(AgentsSafety, AKillAtAnyMomentLeavesTheOldFileOrTheNewOne) {
  // The two states every file moves between (a first install reformats the
  // members it touches, so the removed state is taken after one).
  ASSERT_EQ(run({"agents", "install"}).exit_code, 0);
  const auto installed = snapshot();
  ASSERT_EQ(run({"agents", "remove"}).exit_code, 0);
  const auto before = snapshot();
  std::mt19937 random(12345);
  for (int kill = 0; kill < 300; ++kill) {
    const pid_t pid = spawn(cli, kill % 2 ? "remove" : "install");
    // Anywhere from before the first write to after the last.
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 4000));
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    const auto now = snapshot();
    for (const auto& file : files) {
      EXPECT_TRUE(now.at(file) == before.at(file) || now.at(file) == installed.at(file))
          << file << " after kill " << kill << ":\n"
          << now.at(file);
    }
    if (HasFailure()) return;
  }
  EXPECT_EQ(run({"agents", "remove"}).exit_code, 0);
  EXPECT_TRUE(leftovers().empty());
  EXPECT_EQ(snapshot(), before);
}

// A full disk: nothing is cut, nothing is left half-written, and the run says
// it failed. Needs a small tmpfs, which only root may mount.
TEST_F(AgentsSafety, AFullDiskLosesNothing) {
  const std::string disk = home.mkdir("disk");
  if (run_program("/bin/mount", {"-t", "tmpfs", "-o", "size=128k", "tmpfs", disk},
                  {env, "", home.path()})
          .exit_code != 0) {
    GTEST_SKIP() << "cannot mount a small tmpfs here (needs root)";
  }
  struct Unmount {
    std::string disk;
    ~Unmount() { ::umount2(disk.c_str(), MNT_DETACH); }
  } unmount{disk};

  env["HOME"] = disk;
  fs::create_directories(disk + "/.cursor");
  // A profile that fills its page whole, so the block would need a new one.
  const std::string profile = "export EDITOR=vi\n" + std::string(4096 - 18, '#') + "\n",
                    cursor = "{\"mcpServers\": {\"gh\": {\"command\": \"gh\"}}}\n";
  write_text(disk + "/.zprofile", profile);
  write_text(disk + "/.cursor/mcp.json", cursor);
  {
    std::ofstream filler(disk + "/filler", std::ios::binary);
    const std::string block(4096, 'x');
    while (filler.write(block.data(), block.size()) && filler.flush()) {
    }
  }
  // Whatever is left over is smaller than any file the run would write.
  while (true) {
    std::ofstream crumbs(disk + "/crumbs", std::ios::binary | std::ios::app);
    if (!(crumbs << 'x') || !crumbs.flush()) break;
  }

  auto result = run({"agents", "install"}, "", disk);
  EXPECT_EQ(result.exit_code, 1) << result.out;
  auto report = json::parse(result.out);
  EXPECT_EQ(line_of(report, "PATH")["state"], "failed") << result.out;
  EXPECT_EQ(line_of(report, "Cursor")["state"], "failed");
  EXPECT_NE(line_of(report, "Cursor")["detail"].get<std::string>().find("No space left on device"),
            std::string::npos);
  EXPECT_EQ(read_file_text(disk + "/.zprofile"), profile);
  EXPECT_EQ(read_file_text(disk + "/.cursor/mcp.json"), cursor);
  for (const auto& entry : fs::recursive_directory_iterator(disk)) {
    EXPECT_EQ(entry.path().filename().string().find(".murmela-tmp"), std::string::npos)
        << entry.path();
  }
}

TEST_F(AgentsSafety, ALinkedProfileIsEditedAtItsTarget) {
  fs::remove(home / ".zprofile");
  home.write("dotfiles/zprofile", "export EDITOR=vi\n");
  fs::create_symlink("dotfiles/zprofile", home / ".zprofile");
  ASSERT_EQ(run({"agents", "install"}).exit_code, 0);
  EXPECT_TRUE(fs::is_symlink(home / ".zprofile"));
  EXPECT_NE(home.read("dotfiles/zprofile").find("export PATH=\"$HOME/.local/bin:$PATH\""),
            std::string::npos);
  ASSERT_EQ(run({"agents", "remove"}).exit_code, 0);
  EXPECT_TRUE(fs::is_symlink(home / ".zprofile"));
  EXPECT_EQ(home.read("dotfiles/zprofile"), "export EDITOR=vi\n");
}

TEST_F(AgentsSafety, ThePathLinkRunThroughItselfStays) {
  ASSERT_EQ(run({"agents", "install"}).exit_code, 0);
  const std::string link = home / ".local/bin/murmela-cli";
  ASSERT_EQ(fs::read_symlink(link), cli);
  auto through_link = run_program(link, {"agents", "install"}, {env, "", home.path()});
  EXPECT_EQ(through_link.exit_code, 0) << through_link.out;
  EXPECT_EQ(line_of(json::parse(through_link.out), "PATH")["state"], "present");
  EXPECT_EQ(fs::read_symlink(link), cli);
  EXPECT_EQ(run_program(link, {"version"}, {env, "", home.path()}).exit_code, 0);
}

// The data folder and what it holds stay usable by their owner alone,
// whatever the umask: a later run, without root, must still write them.
TEST_F(AgentsSafety, WhatItCreatesInTheDataFolderIsPrivateUnderAnyUmask) {
  for (const mode_t mask : {0000, 0022, 0277, 0777}) {
    SCOPED_TRACE(mask);
    fs::remove_all(home / ".local");
    const mode_t old_mask = ::umask(mask);
    auto result = run({"agents", "install"});
    ::umask(old_mask);
    ASSERT_EQ(result.exit_code, 0) << result.err;
    // ~/.local/bin too: a folder on PATH that others could write to would
    // let them plant programs there.
    for (const char* folder : {".local", ".local/share", ".local/share/Murmela", ".local/bin"})
      EXPECT_EQ(mode_of(home / folder), 0700u) << folder;
    for (const char* name : {"/agent-integration.json", "/agent-integration.lock"})
      EXPECT_EQ(mode_of(data_folder() + name), 0600u) << name;
  }
  // What an earlier run left unwritable is made private and writable again.
  for (const char* name : {"/agent-integration.json", "/agent-integration.lock"})
    ::chmod((data_folder() + name).c_str(), 0400);
  ASSERT_EQ(run({"agents", "remove"}).exit_code, 0);
  for (const char* name : {"/agent-integration.json", "/agent-integration.lock"})
    EXPECT_EQ(mode_of(data_folder() + name), 0600u) << name;
}

// A data folder that others may write to lets them plant a link, a second
// name of a file of theirs, or a file of their own at our files' paths: the
// marker and the lock are never read or written through such an entry, which
// is replaced by a private file of our own.
TEST_F(AgentsSafety, WhatIsPlantedAtOurFilesIsReplacedNeverFollowed) {
  const std::string folder = data_folder();
  fs::create_directories(folder);
  ::chmod(folder.c_str(), 0777);
  const std::string theirs = home.mkdir("theirs") + "/file";
  struct Plant {
    const char* kind;
    std::function<void(const std::string& at)> make;
  };
  const std::vector<Plant> plants = {
      {"link", [&](const std::string& at) { fs::create_symlink(theirs, at); }},
      {"dangling link",
       [&](const std::string& at) {
         fs::remove(theirs);
         fs::create_symlink(theirs, at);
       }},
      {"hard link", [&](const std::string& at) { fs::create_hard_link(theirs, at); }},
      {"another user's file",
       [&](const std::string& at) {
         write_text(at, "theirs");
         ::chmod(at.c_str(), 0666);
         if (::geteuid() == 0) {
           EXPECT_EQ(::chown(at.c_str(), 65534, 65534), 0);
         }
       }},
      {"fifo", [&](const std::string& at) { ::mkfifo(at.c_str(), 0666); }},
  };
  const std::string marker_text = "{\n  \"cli\": \"" + cli + "\",\n  \"removed\": false\n}";
  for (const auto& plant : plants) {
    for (const std::string name : {"agent-integration.json", "agent-integration.lock"}) {
      SCOPED_TRACE(std::string(plant.kind) + " at " + name);
      const std::string at = folder + "/" + name;
      for (const char* ours : {"/agent-integration.json", "/agent-integration.lock"})
        fs::remove(folder + ours);
      write_text(theirs, "theirs");
      ::chmod(theirs.c_str(), 0644);
      plant.make(at);

      auto result = run({"agents", "install"});
      EXPECT_EQ(result.exit_code, 0) << result.err;
      if (fs::exists(theirs)) {
        EXPECT_EQ(read_file_text(theirs), "theirs");
        EXPECT_EQ(mode_of(theirs), 0644u);
      } else {
        EXPECT_STREQ(plant.kind, "dangling link");
      }
      struct stat info {};
      ASSERT_EQ(::lstat(at.c_str(), &info), 0);
      EXPECT_TRUE(S_ISREG(info.st_mode));
      EXPECT_EQ(info.st_uid, ::geteuid());
      EXPECT_EQ(info.st_nlink, 1u);
      EXPECT_EQ(info.st_mode & 07777, 0600u);
      EXPECT_EQ(read_file_text(folder + "/agent-integration.json"), marker_text);
    }
  }

  // A planted marker naming this CLI is no proof of an install: ensure
  // installs, and the marker it leaves is its own.
  write_text(theirs, marker_text);
  fs::remove(folder + "/agent-integration.json");
  fs::create_symlink(theirs, folder + "/agent-integration.json");
  fs::remove(home / ".cursor/mcp.json");
  EXPECT_NE(run_agents("ensure"), json::array());
  EXPECT_TRUE(fs::exists(home / ".cursor/mcp.json"));
  EXPECT_FALSE(fs::is_symlink(folder + "/agent-integration.json"));
  EXPECT_EQ(read_file_text(theirs), marker_text);
}

}  // namespace
