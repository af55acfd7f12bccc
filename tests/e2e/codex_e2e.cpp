#include <filesystem>
#include <random>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <toml++/toml.h>

#include "agents_fixture.hpp"

using namespace testing_support;
using nlohmann::json;
namespace fs = std::filesystem;

namespace {

class Codex : public AgentsTest {
 protected:
  void SetUp() override {
    cli = copy_cli_to(home / "opt/murmela");
    home.mkdir(".codex");
  }

  json codex_line(const std::string& action, int expected_exit = 0) {
    return target_line(action, "Codex", expected_exit);
  }

  std::string config() const { return home.read(".codex/config.toml"); }
  void write_config(const std::string& text) const { home.write(".codex/config.toml", text); }

  std::string block() const {
    return "[mcp_servers.murmela]\n# Added by Murmela: points agents to murmela-cli\ncommand = \"" +
           cli + "\"\nargs = [\"mcp\"]\n";
  }

  // The file parses as TOML and Codex would see our server with our command.
  void expect_valid_toml(bool with_our_server) const {
    toml::table parsed;
    try {
      parsed = toml::parse(config());
    } catch (const toml::parse_error& error) {
      FAIL() << error.description() << "\n" << config();
    }
    auto command = parsed["mcp_servers"]["murmela"]["command"].value<std::string>();
    EXPECT_EQ(command.has_value(), with_our_server);
    if (command) {
      EXPECT_EQ(*command, cli);
    }
  }
};

TEST_F(Codex, AddsTheBlockAfterOneBlankLine) {
  write_config("model = \"o3\"\n\n\n");
  auto line = codex_line("install");
  EXPECT_EQ(line["state"], "added");
  EXPECT_EQ(line["detail"], home / ".codex/config.toml");
  EXPECT_EQ(config(), "model = \"o3\"\n\n" + block());
  expect_valid_toml(true);
  EXPECT_EQ(codex_line("status")["state"], "present");
  EXPECT_EQ(codex_line("install")["state"], "present");
}

TEST_F(Codex, EmptyOrMissingFileGetsTheBlockAlone) {
  EXPECT_EQ(codex_line("status")["state"], "absent");
  EXPECT_EQ(codex_line("install")["state"], "added");
  EXPECT_EQ(config(), block());
  write_config(" \n\t\n");
  fs::remove(home / ".codex/config.toml");
  write_config(" \n\t\n");
  codex_line("install");
  EXPECT_EQ(config(), block());
}

TEST_F(Codex, UpdatesOnlyTheCommandLine) {
  write_config(
      "[mcp_servers.murmela]\n  command = \"/old/murmela-cli\"\nargs = "
      "[\"mcp\"]\nstartup_timeout_sec = 20\n\n[other]\nx = 1\n");
  EXPECT_EQ(codex_line("status")["state"], "skipped");
  EXPECT_EQ(codex_line("install")["state"], "updated");
  EXPECT_EQ(config(), "[mcp_servers.murmela]\ncommand = \"" + cli +
                          "\"\nargs = [\"mcp\"]\nstartup_timeout_sec = 20\n\n[other]\nx = 1\n");
  expect_valid_toml(true);
  EXPECT_EQ(codex_line("install")["state"], "present");
}

TEST_F(Codex, RemovesTheTableItsSubtablesAndTheBlankLinesBefore) {
  write_config("model = \"o3\"\n\n\n" + block() +
               "\n[mcp_servers.murmela.env]\nKEY = \"v\"\n\n[profiles.fast]\nmodel = \"x\"\n");
  EXPECT_EQ(codex_line("remove")["state"], "removed");
  EXPECT_EQ(config(), "model = \"o3\"\n[profiles.fast]\nmodel = \"x\"\n");
  expect_valid_toml(false);
  EXPECT_EQ(codex_line("remove")["state"], "absent");
}

TEST_F(Codex, RemoveAtTheEndOfTheFile) {
  write_config("[a]\nb = 1\n\n\n" + block());
  codex_line("remove");
  EXPECT_EQ(config(), "[a]\nb = 1\n");
}

TEST_F(Codex, CrlfFileIsReadAndRewrittenWithLineFeeds) {
  write_config(
      "[a]\r\nb = 1\r\n\r\n[mcp_servers.murmela]\r\ncommand = \"/x/murmela-cli\"\r\nargs = "
      "[\"mcp\"]\r\n");
  EXPECT_EQ(codex_line("install")["state"], "updated");
  EXPECT_EQ(config(),
            "[a]\nb = 1\n\n[mcp_servers.murmela]\ncommand = \"" + cli + "\"\nargs = [\"mcp\"]\n");
}

TEST_F(Codex, HeaderWithSurroundingSpacesIsOurs) {
  write_config("  [mcp_servers.murmela]  \ncommand = \"" + cli + "\"\n");
  EXPECT_EQ(codex_line("status")["state"], "present");
}

TEST_F(Codex, AServerWeDidNotWriteIsNeverTouched) {
  const std::vector<std::string> files = {
      "[mcp_servers.murmela]\ncommand = \"npx\"\nargs = [\"murmela\"]\n",
      "[mcp_servers.murmela]\nargs = [\"mcp\"]\n",
      "[mcp_servers.murmela] # mine\ncommand = \"/x/murmela-cli\"\n",
      "[mcp_servers.\"murmela\"]\ncommand = \"/x/murmela-cli\"\n",
      "[mcp_servers]\nmurmela = { command = \"/x/murmela-cli\", args = [\"mcp\"] }\n",
      "[mcp_servers.murmela.env]\nKEY = \"v\"\n",
      block() + "\n[other]\n\n[mcp_servers.murmela.env]\nKEY = \"v\"\n",
  };
  for (const auto& text : files) {
    SCOPED_TRACE(text);
    write_config(text);
    for (const char* mode : {"status", "install", "remove"})
      EXPECT_EQ(codex_line(mode)["state"], "skipped") << mode;
    EXPECT_EQ(config(), text);
  }
}

// Valid files a line editor can misread: each is left exactly as it is, with
// the reason in the detail.
TEST_F(Codex, FilesTheLineEditorCannotEditSafelyAreLeftAlone) {
  const std::string safely = ": cannot edit this file safely, left alone";
  struct Case {
    std::string text;
    std::string install_detail;  // "" when the detail is the bare path
  };
  const std::vector<Case> cases = {
      // Our header inside a multi-line string: not a table at all.
      {"notes = \"\"\"\n[mcp_servers.murmela]\ncommand = \"/x/murmela-cli\"\n\"\"\"\n", ""},
      {"notes = '''\n[mcp_servers.murmela]\n'''\n", ""},
      // The header spelled with an escape: Codex sees our name, we must not edit.
      {"[mcp_servers.\"murm\\u0065la\"]\ncommand = \"/x/murmela-cli\"\n", ""},
      // An inline mcp_servers table: appending a [mcp_servers.murmela] table would break the file.
      {"mcp_servers = { gh = { command = \"gh\" } }\n", safely},
      {"mcp_servers = { murmela = { command = \"/x/murmela-cli\" } }\n", ""},
      // A foreign command that only mentions us in a comment.
      {"[mcp_servers.murmela]\ncommand = \"npx\" # wraps murmela-cli\nargs = [\"w\"]\n", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    write_config(c.text);
    const auto install = codex_line("install");
    EXPECT_EQ(install["state"], "skipped");
    EXPECT_EQ(install["detail"], home / ".codex/config.toml" + c.install_detail);
    EXPECT_EQ(codex_line("remove")["state"], c.install_detail.empty() ? "skipped" : "absent");
    EXPECT_EQ(config(), c.text);
  }
  write_config("model = \"o3\"\n[broken\n");
  EXPECT_EQ(codex_line("install")["detail"],
            home / ".codex/config.toml" + ": not valid TOML, left alone");
  EXPECT_EQ(config(), "model = \"o3\"\n[broken\n");
}

TEST_F(Codex, EditsThatUsedToGoWrong) {
  // `commands` is another key, not our command line.
  write_config(
      "[mcp_servers.murmela]\ncommands = [\"x\"]\ncommand = \"/old/murmela-cli\"\nargs = "
      "[\"mcp\"]\n");
  EXPECT_EQ(codex_line("install")["state"], "updated");
  EXPECT_EQ(config(), "[mcp_servers.murmela]\ncommands = [\"x\"]\ncommand = \"" + cli +
                          "\"\nargs = [\"mcp\"]\n");
  // A line starting with `[` inside our table is not the next table.
  const std::string nested =
      "[mcp_servers.murmela]\ncommand = \"/old/murmela-cli\"\nargs = [\n  "
      "[\"mcp\"],\n]\n\n[other]\nx = 1\n";
  write_config(nested);
  EXPECT_EQ(codex_line("remove")["state"], "skipped");
  EXPECT_EQ(config(), nested);
}

// Mutated valid files: whatever install and remove write parses, and keeps
// every table and key of the user's. Most rounds run the edits in this
// process; every 25th valid file goes through the CLI.
TEST_F(Codex, MutatedFilesAreNeverBroken) {
  const std::vector<std::string> pieces = {"model = \"o3\"\n",
                                           "[mcp_servers.gh]\ncommand = \"gh\"\n",
                                           "\n",
                                           "# [mcp_servers.murmela]\n",
                                           "x = \"\"\"\n[mcp_servers.murmela]\n\"\"\"\n",
                                           "[mcp_servers.murmela]\n",
                                           "command = \"/old/murmela-cli\"\n",
                                           "args = [\n  \"mcp\",\n]\n",
                                           "[mcp_servers.murmela.env]\nK = \"v\"\n",
                                           "[profiles.a]\nmodel = \"x\"\n",
                                           "s = '''[mcp_servers.murmela]'''\n",
                                           "commands = 1\n",
                                           "[[arr]]\nv = 1\n",
                                           "q = \"a\\\"b\"\n"};
  std::mt19937 random(7);
  int written = 0;
  int valid_rounds = 0;
  for (int round = 0; round < 200; ++round) {
    std::string text;
    for (int n = 0; n < 6; ++n) text += pieces[random() % pieces.size()];
    toml::table before;
    try {
      before = toml::parse(text);
    } catch (const toml::parse_error&) {
      continue;  // only valid files count
    }
    write_config(text);
    const bool through_cli = valid_rounds++ % 25 == 0;
    for (const char* mode : {"install", "remove"}) {
      if (through_cli) {
        EXPECT_EQ(run({"agents", mode}).exit_code, 0) << mode << "\n" << text;
      } else {
        const auto reports =
            integrate_here(std::string_view(mode) == "install" ? murmela::IntegrationMode::Install
                                                               : murmela::IntegrationMode::Remove);
        for (const auto& report : reports)
          EXPECT_NE(murmela::to_string(report.state), "failed") << report.target;
      }
      toml::table after;
      try {
        after = toml::parse(config());
      } catch (const toml::parse_error& error) {
        FAIL() << mode << " broke\n" << text << "into\n" << config();
      }
      // Everything but our server is as it was.
      for (auto* table : {&before, &after}) {
        if (auto* servers = (*table)["mcp_servers"].as_table()) {
          servers->erase("murmela");
          if (servers->empty()) table->erase("mcp_servers");
        }
      }
      EXPECT_EQ(before, after) << mode << "\n" << text;
      written += config() != text;
    }
  }
  EXPECT_GT(written, 0);
}

TEST_F(Codex, CodexHomeWins) {
  const std::string elsewhere = home.mkdir("cx");
  env["CODEX_HOME"] = elsewhere;
  EXPECT_EQ(codex_line("install")["detail"], elsewhere + "/config.toml");
  EXPECT_TRUE(fs::exists(elsewhere + "/config.toml"));
  EXPECT_FALSE(fs::exists(home / ".codex/config.toml"));
}

TEST_F(Codex, PathsThatNeedEscaping) {
  cli = copy_cli_to(home / "opt/a \"b\"\\c", "murmela-cli");
  EXPECT_EQ(codex_line("install")["state"], "added");
  EXPECT_NE(config().find("command = \"" + home / "opt/a \\\"b\\\"\\\\c/murmela-cli\"\n"),
            std::string::npos);
  expect_valid_toml(true);
  EXPECT_EQ(codex_line("status")["state"], "present");

  cli = copy_cli_to(home / "opt/tab\there", "murmela-cli");
  EXPECT_EQ(codex_line("install")["state"], "updated");
  EXPECT_NE(config().find("tab\\there/murmela-cli\"\n"), std::string::npos);
  expect_valid_toml(true);
}

TEST_F(Codex, UnreadableTextIsLeftAlone) {
  write_config("model = \"\xFF\"\n");
  auto line = codex_line("install");
  EXPECT_EQ(line["state"], "skipped");
  EXPECT_EQ(config(), "model = \"\xFF\"\n");
}

TEST_F(Codex, ALinkedConfigIsEditedAtItsTarget) {
  const std::string real = home.write("dotfiles/config.toml", "[a]\n");
  fs::create_symlink(real, home / ".codex/config.toml");
  codex_line("install");
  EXPECT_TRUE(fs::is_symlink(home / ".codex/config.toml"));
  EXPECT_EQ(home.read("dotfiles/config.toml"), "[a]\n\n" + block());
}

}  // namespace
