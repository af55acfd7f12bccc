#include <filesystem>
#include <random>

#include <sys/stat.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "agents_fixture.hpp"
#include "common/json_document.hpp"
#include "fake_claude.hpp"

using namespace testing_support;
using nlohmann::json;
namespace fs = std::filesystem;

namespace {

struct FileState {
  std::string text;
  ino_t inode;
};

class Agents : public AgentsTest {
 protected:
  void SetUp() override { cli = copy_cli_to(home / "opt/murmela"); }

  FileState state_of(const std::string& relative) const {
    struct stat info {};
    ::lstat((home / relative).c_str(), &info);
    return {home.read(relative), info.st_ino};
  }

  std::string fake_claude_folder() {
    const std::string folder = home.mkdir("fakebin");
    home.write("fakebin/claude", kFakeClaude);
    ::chmod((folder + "/claude").c_str(), 0755);
    env["PATH"] = folder + ":/usr/bin:/bin";
    return folder;
  }

  std::string entry() const { return R"({"args":["mcp"],"command":")" + cli + R"("})"; }
};

TEST_F(Agents, NothingInstalledShowsOnlyThePathLine) {
  auto report = run_agents("status");
  EXPECT_EQ(report, json::parse(R"([{"detail":")" + home / ".local/bin/murmela-cli" +
                                R"(","state":"absent","target":"PATH"}])"));
  EXPECT_FALSE(fs::exists(data_folder() + "/agent-integration.json"));
}

TEST_F(Agents, UsageErrors) {
  for (auto args : {std::vector<std::string>{"agents", "install", "now"}, {"agents", "Install"}}) {
    auto result = run(args);
    EXPECT_EQ(result.exit_code, 2);
    EXPECT_EQ(result.err,
              "error: Use `agents status|install|remove`.\nRun `murmela-cli help` for usage.\n");
  }
}

TEST_F(Agents, CursorFileGetsOurMemberAndNothingElseChanges) {
  home.write(
      ".cursor/mcp.json",
      "{\n  \"mcpServers\": {\n    \"github\": {\n      \"command\": \"gh\"\n    }\n  }\n}\n");
  auto report = run_agents("install");
  EXPECT_EQ(line_of(report, "Cursor"), json::parse(R"({"detail":")" + home / ".cursor/mcp.json" +
                                                   R"(","state":"added","target":"Cursor"})"));
  EXPECT_EQ(home.read(".cursor/mcp.json"),
            "{\n  \"mcpServers\": {\n    \"github\": {\n      \"command\": \"gh\"\n    },\n"
            "    \"murmela\": " +
                entry() + "\n  }\n}\n");

  const FileState before = state_of(".cursor/mcp.json");
  EXPECT_EQ(line_of(run_agents("install"), "Cursor")["state"], "present");
  EXPECT_EQ(line_of(run_agents("status"), "Cursor")["state"], "present");
  const FileState after = state_of(".cursor/mcp.json");
  EXPECT_EQ(after.text, before.text);
  EXPECT_EQ(after.inode, before.inode);

  EXPECT_EQ(line_of(run_agents("remove"), "Cursor")["state"], "removed");
  EXPECT_EQ(
      home.read(".cursor/mcp.json"),
      "{\n  \"mcpServers\": {\n    \"github\": {\n      \"command\": \"gh\"\n    }\n  }\n}\n");
}

TEST_F(Agents, NewFileAndRemovingTheLastServer) {
  home.mkdir(".cursor");
  home.write(".gemini/settings.json", "{\"theme\":\"dark\",\"mcpServers\":{}}");
  run_agents("install");
  EXPECT_EQ(home.read(".cursor/mcp.json"),
            "{\n  \"mcpServers\": {\n    \"murmela\": " + entry() + "\n  }\n}\n");
  EXPECT_EQ(
      home.read(".gemini/settings.json"),
      "{\n  \"theme\": \"dark\",\n  \"mcpServers\": {\n    \"murmela\": " + entry() + "\n  }\n}\n");
  run_agents("remove");
  EXPECT_EQ(home.read(".cursor/mcp.json"), "{}\n");
  EXPECT_EQ(home.read(".gemini/settings.json"), "{\n  \"theme\": \"dark\"\n}\n");
}

TEST_F(Agents, CrlfFilesStayCrlf) {
  home.write(".gemini/settings.json", "{\r\n  \"a\": [1,\r\n 2]\r\n}\r\n");
  run_agents("install");
  EXPECT_EQ(home.read(".gemini/settings.json"),
            "{\r\n  \"a\": [1,\r\n 2],\r\n  \"mcpServers\": {\r\n    \"murmela\": " + entry() +
                "\r\n  }\r\n}\r\n");
}

TEST_F(Agents, EntriesWeDoNotOwnOrCannotReadAreLeftAlone) {
  struct Case {
    std::string text;
    std::string detail_suffix;
  };
  const std::vector<Case> cases = {
      {"{ // comment\n}", ": not plain JSON, left alone"},
      {"{\"a\":1,}", ": not plain JSON, left alone"},
      {"\xEF\xBB\xBF{}", ": not plain JSON, left alone"},
      {"", ": not plain JSON, left alone"},
      {std::string("{\"mcpServers\":{}}\0{\"backup\":{\"token\":\"t\"}}", 42),
       ": not plain JSON, left alone"},
      {"{}\v", ": not plain JSON, left alone"},
      {std::string(5000, '[') + std::string(5000, ']'), ": not plain JSON, left alone"},
      {"{\"mcpServers\":[]}", ": `mcpServers` is not an object"},
      {"{\"mcpServers\":{\"murmela\":{\"command\":\"npx\",\"args\":[\"murmela\"]}}}", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    home.write(".gemini/settings.json", c.text);
    const FileState before = state_of(".gemini/settings.json");
    for (const char* mode : {"status", "install", "remove"}) {
      auto line = line_of(run_agents(mode), "Gemini CLI");
      EXPECT_EQ(line["state"], "skipped") << mode;
      EXPECT_EQ(line["detail"], home / ".gemini/settings.json" + c.detail_suffix);
    }
    EXPECT_EQ(state_of(".gemini/settings.json").text, before.text);
    EXPECT_EQ(state_of(".gemini/settings.json").inode, before.inode);
  }
  // The member editor would edit the first of two servers objects; JSON
  // readers take the last.
  const std::string repeated = "{\"mcpServers\":{\"a\":{}},\"mcpServers\":{\"b\":{}}}";
  home.write(".gemini/settings.json", repeated);
  EXPECT_EQ(line_of(run_agents("install"), "Gemini CLI")["detail"],
            home / ".gemini/settings.json" + ": cannot edit this file safely, left alone");
  EXPECT_EQ(home.read(".gemini/settings.json"), repeated);
}

TEST_F(Agents, ValuesNoNumberOrStringTypeHoldsAreCopiedByteForByte) {
  const std::string other =
      R"("big": {"n": 1e400, "s": "\ud800", "\udfff": 123456789012345678901234567890})";
  home.write(".cursor/mcp.json", "{\"mcpServers\": {" + other + "}, \"x\": -0.0e-0}\n");
  run_agents("install");
  EXPECT_EQ(home.read(".cursor/mcp.json"), "{\n  \"mcpServers\": {\n    " + other +
                                               ",\n    \"murmela\": " + entry() +
                                               "\n  },\n  \"x\": -0.0e-0\n}\n");
  run_agents("remove");
  EXPECT_EQ(home.read(".cursor/mcp.json"),
            "{\n  \"mcpServers\": {\n    " + other + "\n  },\n  \"x\": -0.0e-0\n}\n");
}

// Mutated valid files: whatever install and remove write is JSON again and
// keeps every member of the user's, byte for byte where it was not touched.
// Most rounds run the edits in this process; every 25th runs the CLI.
TEST_F(Agents, MutatedJsonFilesAreNeverBroken) {
  const std::vector<std::string> members = {
      R"("theme": "dark")",
      R"("n": 1e400)",
      R"("s": "\ud800\u00e4")",
      R"("mcpServers": {})",
      R"("mcpServers": {"gh": {"command": "gh", "args": [1, 2.50]}})",
      R"("mcpServers": [])",
      R"("mcpServers": {"murmela": {"command": "/old/murmela-cli", "args": ["mcp"]}})",
      R"("mcpServers": {"murmela": {"command": "npx"}})",
      R"("deep": {"a": [[{"b": null}]]})",
      R"("": true)",
      R"("theme": "light")"};
  std::mt19937 random(11);
  int written = 0;
  for (int round = 0; round < 200; ++round) {
    std::string text = "{";
    const int count = static_cast<int>(random() % 4);
    for (int n = 0; n < count; ++n)
      text += (n ? ",\n  " : "\n  ") + members[random() % members.size()];
    text += count ? "\n}\n" : "}";
    home.write(".gemini/settings.json", text);
    for (const char* mode : {"install", "remove"}) {
      if (round % 25 == 0) {
        EXPECT_EQ(run({"agents", mode}).exit_code, 0) << mode << ": " << text;
      } else {
        const auto reports =
            integrate_here(std::string_view(mode) == "install" ? murmela::IntegrationMode::Install
                                                               : murmela::IntegrationMode::Remove);
        for (const auto& report : reports)
          EXPECT_NE(murmela::to_string(report.state), "failed") << report.target;
      }
      const std::string now = home.read(".gemini/settings.json");
      ASSERT_TRUE(murmela::read_json(now)) << mode << ": " << text << "\ninto\n" << now;
      for (const auto& member : members) {
        if (member.find("mcpServers") != std::string::npos) continue;
        EXPECT_EQ(text.find(member) != std::string::npos, now.find(member) != std::string::npos)
            << member;
      }
      written += now != text;
    }
  }
  EXPECT_GT(written, 0);
}

TEST_F(Agents, OurOlderEntryIsReplacedAndHandWrittenEqualIsPresent) {
  home.write(
      ".cursor/mcp.json",
      R"({"mcpServers":{"murmela":{"command":"/old/MURMELA-CLI","args":["mcp"],"env":{"A":"1"}}}})");
  EXPECT_EQ(line_of(run_agents("status"), "Cursor")["state"], "skipped");
  EXPECT_EQ(line_of(run_agents("install"), "Cursor")["state"], "updated");
  EXPECT_EQ(home.read(".cursor/mcp.json"),
            "{\n  \"mcpServers\": {\n    \"murmela\": " + entry() + "\n  }\n}\n");

  home.write(".cursor/mcp.json", "{\"mcpServers\":{\"murmela\":{ \"command\": \"" + cli +
                                     "\", \"args\": [ \"mcp\" ] }}}");
  EXPECT_EQ(line_of(run_agents("install"), "Cursor")["state"], "present");
}

TEST_F(Agents, PrivateConfigStaysPrivate) {
  const std::string path =
      home.write(".cursor/mcp.json", R"({"mcpServers":{"x":{"env":{"KEY":"secret"}}}})");
  ::chmod(path.c_str(), 0600);
  run_agents("install");
  struct stat info {};
  ::stat(path.c_str(), &info);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  EXPECT_FALSE(fs::exists(home / ".cursor/mcp.murmela-tmp"));
}

// People keep configs as links into a dotfiles repository: the file the
// link leads to is edited, and the link stays.
TEST_F(Agents, ALinkedConfigIsEditedAtItsTarget) {
  const std::string real = home.write("dotfiles/mcp.json", "{}");
  home.mkdir(".cursor");
  fs::create_symlink("../dotfiles/mcp.json", home / ".cursor/mcp.json");
  run_agents("install");
  EXPECT_TRUE(fs::is_symlink(home / ".cursor/mcp.json"));
  EXPECT_EQ(home.read("dotfiles/mcp.json"),
            "{\n  \"mcpServers\": {\n    \"murmela\": " + entry() + "\n  }\n}\n");
  run_agents("remove");
  EXPECT_TRUE(fs::is_symlink(home / ".cursor/mcp.json"));
  EXPECT_EQ(home.read("dotfiles/mcp.json"), "{}\n");
}

TEST_F(Agents, OpencodeEntryShapeAndItsJsoncFile) {
  home.write(".config/opencode/opencode.jsonc",
             "{\"$schema\":\"https://opencode.ai/config.json\"}");
  auto line = line_of(run_agents("install"), "opencode");
  EXPECT_EQ(line["state"], "added");
  EXPECT_EQ(line["detail"], home / ".config/opencode/opencode.jsonc");
  EXPECT_EQ(
      home.read(".config/opencode/opencode.jsonc"),
      "{\n  \"$schema\": \"https://opencode.ai/config.json\",\n  \"mcp\": {\n    \"murmela\": "
      "{\"command\":[\"" +
          cli + "\",\"mcp\"],\"enabled\":true,\"type\":\"local\"}\n  }\n}\n");
  EXPECT_FALSE(fs::exists(home / ".config/opencode/opencode.json"));
  home.write(".config/opencode/opencode.jsonc", "{ /* mine */ }");
  EXPECT_EQ(line_of(run_agents("install"), "opencode")["state"], "skipped");
}

// XDG_CONFIG_HOME moves opencode's and Claude Desktop's folders, and
// GEMINI_CLI_HOME Gemini CLI's, but only when absolute: every line names the
// file the product reads, and the one it does not read stays as it was.
TEST_F(Agents, EachFileIsTheOneItsProductReads) {
  struct Case {
    const char* name;
    std::optional<std::string> xdg_config_home, gemini_cli_home;
    bool moved;
  };
  const std::vector<Case> cases = {
      {"unset", std::nullopt, std::nullopt, false},
      {"absolute", home / "xdg", home / "gem", true},
      {"empty", "", "", false},
      {"relative", "xdg", "gem", false},  // the run's folder is HOME: a trap if taken
  };
  struct Files {
    std::string target, usual, moved;
  };
  const std::vector<Files> files = {
      {"Gemini CLI", ".gemini/settings.json", "gem/.gemini/settings.json"},
      {"Claude Desktop", ".config/Claude/claude_desktop_config.json",
       "xdg/Claude/claude_desktop_config.json"},
      {"opencode", ".config/opencode/opencode.json", "xdg/opencode/opencode.json"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    env.erase("XDG_CONFIG_HOME");
    env.erase("GEMINI_CLI_HOME");
    if (c.xdg_config_home) env["XDG_CONFIG_HOME"] = *c.xdg_config_home;
    if (c.gemini_cli_home) env["GEMINI_CLI_HOME"] = *c.gemini_cli_home;
    for (const auto& f : files) {
      home.write(f.usual, "{\"usual\": 1}");
      home.write(f.moved, "{\"moved\": 1}");
    }
    for (const auto& [mode, state] :
         std::vector<std::pair<std::string, std::string>>{{"status", "absent"},
                                                          {"install", "added"},
                                                          {"status", "present"},
                                                          {"remove", "removed"}}) {
      const auto report = run_agents(mode);
      for (const auto& f : files) {
        const std::string& read = c.moved ? f.moved : f.usual;
        const std::string& unread = c.moved ? f.usual : f.moved;
        EXPECT_EQ(line_of(report, f.target),
                  json({{"detail", home / read}, {"state", state}, {"target", f.target}}))
            << mode;
        EXPECT_EQ(home.read(unread), c.moved ? "{\"usual\": 1}" : "{\"moved\": 1}") << mode;
      }
    }
  }

  // A product that reads only the moved folder gets no line when that folder
  // is missing, whatever the folder under HOME holds.
  env["XDG_CONFIG_HOME"] = home / "elsewhere";
  env["GEMINI_CLI_HOME"] = home / "elsewhere";
  for (const auto& f : files) home.write(f.usual, "{\"usual\": 1}");
  const auto report = run_agents("install");
  for (const auto& f : files) {
    EXPECT_EQ(line_of(report, f.target), nullptr) << f.target;
    EXPECT_EQ(home.read(f.usual), "{\"usual\": 1}");
  }
}

TEST_F(Agents, EveryTargetInReportOrder) {
  fake_claude_folder();
  for (const char* folder : {".codex", ".gemini", ".cursor", ".codeium/windsurf", ".config/Claude",
                             ".config/opencode"}) {
    home.mkdir(folder);
  }
  auto report = run_agents("install");
  std::vector<std::string> targets;
  for (const auto& line : report) {
    targets.push_back(line["target"]);
    EXPECT_EQ(line["state"], "added") << line;
  }
  EXPECT_EQ(targets,
            (std::vector<std::string>{"PATH", "Claude Code", "Codex", "Gemini CLI", "Cursor",
                                      "Windsurf", "Claude Desktop", "opencode"}));
  EXPECT_FALSE(line_of(report, "Claude Code").contains("detail"));
  for (const auto& line : run_agents("status")) EXPECT_EQ(line["state"], "present") << line;
  for (const auto& line : run_agents("remove")) EXPECT_EQ(line["state"], "removed") << line;
  for (const auto& line : run_agents("status")) EXPECT_EQ(line["state"], "absent") << line;
}

TEST_F(Agents, AFailedTargetIsReportedThenTheCommandFails) {
  home.mkdir(".codex");
  fs::create_symlink(home / "gone/config.toml", home / ".codex/config.toml");  // nowhere to write
  home.mkdir(".cursor");
  auto result = run({"agents", "install"});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(result.err, "error: Some targets could not be updated; see `detail`.\n");
  auto report = json::parse(result.out);
  EXPECT_EQ(line_of(report, "Codex")["state"], "failed");
  EXPECT_EQ(line_of(report, "Codex")["detail"], "Cannot write " + home / ".codex/config.toml" +
                                                    ": No such file or directory (os error 2)");
  EXPECT_EQ(line_of(report, "Cursor")["state"], "added");
  EXPECT_FALSE(fs::exists(home / "gone"));
}

TEST_F(Agents, MarkerRecordsTheLastRun) {
  const std::string marker = data_folder() + "/agent-integration.json";
  run_agents("install");
  EXPECT_EQ(read_file_text(marker), "{\n  \"cli\": \"" + cli + "\",\n  \"removed\": false\n}");
  run_agents("remove");
  EXPECT_EQ(read_file_text(marker), "{\n  \"cli\": \"" + cli + "\",\n  \"removed\": true\n}");
  run_agents("uninstall");
  EXPECT_FALSE(fs::exists(marker));
}

TEST_F(Agents, EnsureInstallsOnceAndAgainWhenTheCliMoves) {
  const std::string marker = data_folder() + "/agent-integration.json";
  home.mkdir(".cursor");
  struct Case {
    std::string marker;  // empty: no marker file
    bool installs;
  };
  const std::vector<Case> cases = {
      {"", true},
      {"{\"cli\":\"" + cli + "\",\"removed\":false}", false},
      {"{\"cli\":\"" + home / "opt//murmela/./murmela-cli" + "\",\"removed\":false,\"x\":1}",
       false},
      {"{\"cli\":\"/elsewhere/murmela-cli\",\"removed\":false}", true},
      {"{\"cli\":\"/elsewhere/murmela-cli\",\"removed\":true}", false},
      {"not json", true},
      {"{\"cli\":\"/x\",\"removed\":\"no\"}", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.marker);
    fs::remove(marker);
    fs::remove(home / ".cursor/mcp.json");
    if (!c.marker.empty()) home.write(".local/share/Murmela/agent-integration.json", c.marker);
    auto report = run_agents("ensure");
    EXPECT_EQ(report.empty(), !c.installs) << report;
    EXPECT_EQ(fs::exists(home / ".cursor/mcp.json"), c.installs);
  }
}

TEST_F(Agents, EnsureDoesNothingFromABuildFolder) {
  for (const char* folder : {"src/cli/target/debug", "src/murmela-cli/build/release"}) {
    cli = copy_cli_to(home / folder);
    EXPECT_EQ(run_agents("ensure"), json::array()) << folder;
    EXPECT_FALSE(fs::exists(data_folder()));
  }
  cli = copy_cli_to(home / "build/tools/bin");  // a folder named build higher up is no build folder
  EXPECT_EQ(line_of(run_agents("ensure"), "PATH")["state"], "added");
}

TEST_F(Agents, PathLinkAndProfileBlock) {
  const std::string block =
      "\n# Added by Murmela: murmela-cli on PATH\nexport PATH=\"$HOME/.local/bin:$PATH\"\n";
  ASSERT_EQ(block.size(), 78u);
  home.write(".zprofile", "export EDITOR=vi\n");
  EXPECT_EQ(line_of(run_agents("install"), "PATH")["state"], "added");
  EXPECT_EQ(fs::read_symlink(home / ".local/bin/murmela-cli"), cli);
  EXPECT_EQ(home.read(".zprofile"), "export EDITOR=vi\n" + block);
  EXPECT_EQ(line_of(run_agents("install"), "PATH")["state"], "present");
  EXPECT_EQ(home.read(".zprofile"), "export EDITOR=vi\n" + block);

  home.write(".zprofile", "a\n" + block + "b\n" + block);
  EXPECT_EQ(line_of(run_agents("remove"), "PATH")["state"], "removed");
  EXPECT_FALSE(fs::is_symlink(home / ".local/bin/murmela-cli"));
  EXPECT_EQ(home.read(".zprofile"), "a\nb\n" + block);
  EXPECT_EQ(line_of(run_agents("remove"), "PATH")["state"], "absent");
  EXPECT_EQ(home.read(".zprofile"), "a\nb\n" + block);
}

TEST_F(Agents, ProfileMentioningLocalBinIsLeftAlone) {
  home.write(".zshrc", "# path is set in ~/.local/bin/env\n");
  run_agents("install");
  EXPECT_FALSE(fs::exists(home / ".zprofile"));
  EXPECT_TRUE(fs::is_symlink(home / ".local/bin/murmela-cli"));
}

TEST_F(Agents, PathLinkStates) {
  const std::string link = home / ".local/bin/murmela-cli";
  home.mkdir(".local/bin");

  fs::create_symlink("/old/place/MURMELA-CLI.EXE", link);
  EXPECT_EQ(line_of(run_agents("status"), "PATH")["state"], "absent");
  EXPECT_EQ(line_of(run_agents("install"), "PATH")["state"], "updated");
  EXPECT_EQ(fs::read_symlink(link), cli);

  fs::remove(link);
  fs::create_symlink("/usr/bin/env", link);
  auto skipped = line_of(run_agents("install"), "PATH");
  EXPECT_EQ(skipped["state"], "skipped");
  EXPECT_EQ(skipped["detail"], link + " points somewhere else");
  EXPECT_EQ(line_of(run_agents("remove"), "PATH")["state"], "absent");
  EXPECT_EQ(fs::read_symlink(link), "/usr/bin/env");

  fs::remove(link);
  home.write(".local/bin/murmela-cli", "mine");
  skipped = line_of(run_agents("install"), "PATH");
  EXPECT_EQ(skipped["detail"], link + " already exists");
  EXPECT_EQ(home.read(".local/bin/murmela-cli"), "mine");
}

TEST_F(Agents, CliFolderAlreadyOnPath) {
  env["PATH"] = "/usr/bin:" + home / "opt/murmela/" + ":/bin";
  const std::string detail = home / "opt/murmela" + " is already on PATH";
  EXPECT_EQ(line_of(run_agents("install"), "PATH"),
            json({{"detail", detail}, {"state", "present"}, {"target", "PATH"}}));
  EXPECT_EQ(line_of(run_agents("remove"), "PATH")["state"], "skipped");
  EXPECT_FALSE(fs::exists(home / ".local/bin"));
}

TEST_F(Agents, WithoutHomeOnlyThePathLineFails) {
  env.erase("HOME");
  auto result = run({"agents", "install"});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(json::parse(result.out),
            json::parse(R"([{"detail":"HOME is not set.","state":"failed","target":"PATH"}])"));
}

}  // namespace
