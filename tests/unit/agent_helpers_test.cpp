#include <gtest/gtest.h>

#include "agent_integration/agent_environment.hpp"
#include "agent_integration/codex_format.hpp"
#include "agent_integration/file_targets.hpp"
#include "agent_integration/integration.hpp"
#include "agent_integration/path_target.hpp"
#include "agent_integration/toml_lines.hpp"
#include "common/paths.hpp"
#include "temp_dir.hpp"

using namespace murmela;

TEST(SamePath, BytesOrComponents) {
  EXPECT_TRUE(same_path("/opt/x//murmela-cli", "/opt/x/murmela-cli"));
  EXPECT_TRUE(same_path("/opt/x/", "/opt/x"));
  EXPECT_TRUE(same_path("/opt/./x", "/opt/x"));
  EXPECT_TRUE(same_path("", ""));
  EXPECT_FALSE(same_path("/opt/x", "/opt/y"));
  EXPECT_FALSE(same_path("/opt/x/..", "/opt"));
  EXPECT_FALSE(same_path("opt", "/opt"));
  EXPECT_FALSE(same_path("", "/"));
}

TEST(IsOwnCli, LastComponentWithoutRegardToCase) {
  for (const char* yes : {"/usr/bin/MURMELA-CLI", "C:/tools/murmela-cli.exe", "murmela-cli",
                          "/a/Murmela-Cli.EXE", "/a/murmela-cli/"}) {
    EXPECT_TRUE(is_own_cli(yes)) << yes;
  }
  for (const char* no : {"/usr/bin/murmela-cli2", "/usr/bin/murmela-cli/..", "/", "",
                         "/usr/bin/env", "/a/murmela-cli.exe.bak"}) {
    EXPECT_FALSE(is_own_cli(no)) << no;
  }
}

TEST(TomlQuoted, EscapesWhatTomlRequires) {
  EXPECT_EQ(toml_quoted("/opt/bin/murmela-cli"), "\"/opt/bin/murmela-cli\"");
  EXPECT_EQ(toml_quoted("/a \"b\"\\c"), "\"/a \\\"b\\\"\\\\c\"");
  EXPECT_EQ(toml_quoted("/a\nb\tc\x01\x7F"), "\"/a\\nb\\tc\\u0001\\u007F\"");
  EXPECT_EQ(toml_quoted("/K\xC3\xA4se"), "\"/K\xC3\xA4se\"");
}

TEST(TomlLines, HeadersAndKeysInEverySpelling) {
  using Kind = TomlLine::Kind;
  struct Case {
    const char* line;
    Kind kind;
    std::vector<std::string> path;
  };
  const std::vector<Case> cases = {
      {"[mcp_servers.murmela]", Kind::Header, {"mcp_servers", "murmela"}},
      {"  [ mcp_servers . \"murmela\" ] # c", Kind::Header, {"mcp_servers", "murmela"}},
      {"['mcp_servers'.murmela.env]", Kind::Header, {"mcp_servers", "murmela", "env"}},
      {"[[profiles]]", Kind::Header, {"profiles"}},
      {"murmela = { command = \"x\" }", Kind::Key, {"murmela"}},
      {"\"murmela\".command=\"x\"", Kind::Key, {"murmela", "command"}},
      {"# [mcp_servers.murmela]", Kind::Other, {}},
      {"  \"a\",", Kind::Other, {}},
      {"", Kind::Other, {}},
  };
  for (const auto& c : cases) {
    const TomlLine line = classify_toml_line(c.line);
    EXPECT_EQ(line.kind, c.kind) << c.line;
    EXPECT_EQ(line.path, c.path) << c.line;
  }
}

TEST(TomlLines, MultiLineStringsAreNotDefinitions) {
  const std::vector<std::string> lines = {"[a]", "text = \"\"\"", "[mcp_servers.murmela]", "\"\"\"",
                                          "b = 1"};
  const auto definitions = toml_definitions(lines);
  ASSERT_EQ(definitions.size(), 3u);
  EXPECT_EQ(definitions[2].path, (std::vector<std::string>{"a", "b"}));
}

TEST(Marker, ExactForm) {
  EXPECT_EQ(marker_text("/path/to/murmela-cli", false),
            "{\n  \"cli\": \"/path/to/murmela-cli\",\n  \"removed\": false\n}");
  EXPECT_EQ(marker_text("/a \"b\"", true),
            "{\n  \"cli\": \"/a \\\"b\\\"\",\n  \"removed\": true\n}");
}

// The targets work from an environment value, without the process's own.
TEST(AgentEnvironment, TargetsRunFromTheValueAlone) {
  testing_support::TempDir home;
  home.mkdir(".codex");
  const AgentEnvironment environment{.cli_path = "/opt/x/murmela-cli",
                                     .data_folder = home / "data",
                                     .home = home.path(),
                                     .search_path = "/usr/bin:/bin"};
  EXPECT_EQ(link_cli_on_path(IntegrationMode::Status, environment, real_disk()),
            (TargetReport{"PATH", ReportState::Absent, home / ".local/bin/murmela-cli"}));
  EXPECT_EQ(update_file_target(IntegrationMode::Install, codex_target(environment), real_disk()),
            (TargetReport{"Codex", ReportState::Added, home / ".codex/config.toml"}));
  EXPECT_NE(home.read(".codex/config.toml").find("command = \"/opt/x/murmela-cli\""),
            std::string::npos);
  const AgentEnvironment elsewhere{
      .cli_path = "/opt/x/murmela-cli", .home = home.path(), .codex_home = home / "none"};
  EXPECT_EQ(update_file_target(IntegrationMode::Status, codex_target(elsewhere), real_disk()),
            std::nullopt);
}
