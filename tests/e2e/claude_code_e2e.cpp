#include <filesystem>
#include <fstream>

#include <signal.h>
#include <sys/stat.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "agents_fixture.hpp"
#include "fake_claude.hpp"

using namespace testing_support;
using nlohmann::json;
namespace fs = std::filesystem;

namespace {

class ClaudeCode : public AgentsTest {
 protected:
  std::string bin;

  void SetUp() override {
    cli = copy_cli_to(home / "opt/murmela");
    bin = home.mkdir("fakebin");
    put_claude(bin, kFakeClaude);
    env["PATH"] = bin + ":/usr/bin:/bin";
  }

  void put_claude(const std::string& folder, const std::string& script) {
    fs::create_directories(folder);
    std::ofstream(folder + "/claude") << script;
    ::chmod((folder + "/claude").c_str(), 0755);
  }

  json claude_line(const std::string& action, int expected_exit = 0) {
    return target_line(action, "Claude Code", expected_exit);
  }

  std::string log() const { return read_file_text(bin + "/claude.log"); }
  void register_command(const std::string& command) const {
    std::ofstream(bin + "/registry")
        << "murmela:\n  Scope: User config\n  Command: " << command << "\n  Args: mcp\n";
  }
};

TEST_F(ClaudeCode, InstallStatusRemoveFromTheHomeFolder) {
  EXPECT_EQ(claude_line("status"), json::parse(R"({"state":"absent","target":"Claude Code"})"));
  EXPECT_EQ(claude_line("install"), json::parse(R"({"state":"added","target":"Claude Code"})"));
  EXPECT_EQ(claude_line("status")["state"], "present");
  EXPECT_EQ(claude_line("remove")["state"], "removed");
  const std::string h = home.path();
  EXPECT_EQ(log(), h + "|mcp get murmela\n" + h + "|mcp get murmela\n" + h +
                       "|mcp add --scope user murmela -- " + cli + " mcp\n" + h +
                       "|mcp get murmela\n" + h + "|mcp get murmela\n" + h +
                       "|mcp remove --scope user murmela\n");
}

// Install and remove run `claude` while they hold the agents lock, and hold
// it exclusively: another run can take no share of it meanwhile. Status
// only reads, and holds nothing.
TEST_F(ClaudeCode, ChangesRunUnderTheExclusiveAgentsLock) {
  env["CLAUDE_LOCK_PROBE"] = data_folder() + "/agent-integration.lock";
  EXPECT_EQ(claude_line("install")["state"], "added");
  EXPECT_EQ(claude_line("remove")["state"], "removed");
  EXPECT_EQ(claude_line("status")["state"], "absent");
  EXPECT_EQ(read_file_text(bin + "/lock.log"),
            "get held\nadd held\nget held\nremove held\nget free\n");
}

TEST_F(ClaudeCode, AnotherCopyIsReplaced) {
  register_command("/old/place/murmela-cli");
  EXPECT_EQ(claude_line("status")["state"], "skipped");
  EXPECT_EQ(claude_line("install")["state"], "updated");
  EXPECT_NE(log().find("|mcp remove --scope user murmela\n"), std::string::npos);
  EXPECT_NE(read_file_text(bin + "/registry").find(cli), std::string::npos);
}

TEST_F(ClaudeCode, AServerThatIsNotOursIsLeftAlone) {
  register_command("npx some-other-server");
  EXPECT_EQ(
      claude_line("install"),
      json::parse(
          R"({"detail":"Another server is already named murmela.","state":"skipped","target":"Claude Code"})"));
  EXPECT_EQ(claude_line("remove")["state"], "absent");
  EXPECT_EQ(log().find("add"), std::string::npos);
  EXPECT_EQ(log().find("remove"), std::string::npos);
}

TEST_F(ClaudeCode, AFailedAddShowsTheStartOfItsOutput) {
  env["CLAUDE_FAIL_ADD"] =
      "  " + std::string(290, 'x') + "\xC3\xA4\xC3\xB6" + std::string(100, 'y');
  auto line = claude_line("install", 1);
  EXPECT_EQ(line["state"], "failed");
  EXPECT_EQ(line["detail"], std::string(290, 'x') + "\xC3\xA4\xC3\xB6" + std::string(8, 'y'));
}

TEST_F(ClaudeCode, FoundOutsidePathAndDirectoriesAreSkipped) {
  fs::remove(bin + "/claude");
  fs::create_directories(bin + "/claude");  // a folder named claude on PATH is no command
  put_claude(home / ".claude/local", kFakeClaude);
  EXPECT_EQ(claude_line("install")["state"], "added");
  EXPECT_TRUE(fs::exists(home / ".claude/local/claude.log"));
}

TEST_F(ClaudeCode, NoCommand) {
  fs::remove(bin + "/claude");
  env["PATH"] = "/usr/bin:/bin";
  EXPECT_TRUE(claude_line("status").is_null());
  home.write(".claude.json", "{}");
  EXPECT_EQ(
      claude_line("install"),
      json::parse(
          R"({"detail":"The claude command was not found.","state":"skipped","target":"Claude Code"})"));
}

TEST_F(ClaudeCode, CannotBeStarted) {
  std::ofstream(bin + "/claude", std::ios::trunc) << "not a program";
  ::chmod((bin + "/claude").c_str(), 0644);
  auto line = claude_line("status", 1);
  EXPECT_EQ(line["state"], "failed");
  EXPECT_EQ(line["detail"], "Cannot run " + bin + "/claude: Permission denied (os error 13)");
}

// A claude that leaves a child holding its pipes has still answered when it
// exits; waiting for the child would take the 45-second limit and fail.
TEST_F(ClaudeCode, ABackgroundChildDoesNotHoldUpTheAnswer) {
  put_claude(bin,
             "#!/bin/sh\nsleep 60 &\necho $! > \"$(dirname \"$0\")/child\"\n"
             "echo 'murmela:'; echo '  Command: " +
                 cli + "'\nexit 0\n");
  EXPECT_EQ(claude_line("status")["state"], "present");
  ::kill(std::stoi(read_file_text(bin + "/child")), SIGKILL);
}

TEST_F(ClaudeCode, ALongerPathIsAnotherProgram) {
  register_command(cli + "-old");
  EXPECT_EQ(claude_line("status")["state"], "skipped");
  register_command("\"" + cli + "\"");
  EXPECT_EQ(claude_line("status")["state"], "present");
}

TEST_F(ClaudeCode, FoundThroughAnEmptyPathEntry) {
  env["PATH"] = ":/usr/bin:/bin";
  auto result = run({"agents", "install"}, "", bin);
  EXPECT_EQ(result.exit_code, 0) << result.out;
  EXPECT_EQ(line_of(json::parse(result.out), "Claude Code")["state"], "added");
}

}  // namespace
