#include "agent_integration/codex_check.hpp"

#include <toml++/toml.h>

namespace murmela {

namespace {

std::optional<toml::table> parsed(std::string_view text) {
  try {
    return toml::parse(text);
  } catch (const toml::parse_error&) {
    return std::nullopt;
  }
}

toml::table* servers_of(toml::table& root) { return root["mcp_servers"].as_table(); }

// The document without our server, and without `mcp_servers` once empty.
void remove_our_server(toml::table& root) {
  toml::table* servers = servers_of(root);
  if (!servers) return;
  servers->erase("murmela");
  if (servers->empty()) root.erase("mcp_servers");
}

}  // namespace

CodexConfig read_codex_config(std::string_view text) {
  auto root = parsed(text);
  if (!root) return {};
  CodexConfig config{.valid = true};
  const toml::node_view server = (*root)["mcp_servers"]["murmela"];
  config.has_server = static_cast<bool>(server);
  if (auto command = server["command"].value<std::string>()) config.command = *command;
  return config;
}

bool is_exact_codex_edit(std::string_view original, std::string_view edited, CodexEdit edit,
                         const std::string& command) {
  auto before = parsed(original);
  auto after = parsed(edited);
  if (!before || !after) return false;

  std::optional<toml::table> expected;
  if (edit == CodexEdit::Add) {
    expected = toml::table{{"command", command}, {"args", toml::array{"mcp"}}};
  } else if (edit == CodexEdit::Update) {
    const toml::table* old = (*before)["mcp_servers"]["murmela"].as_table();
    if (!old) return false;
    expected = *old;
    expected->insert_or_assign("command", command);
  }
  const toml::table* server = (*after)["mcp_servers"]["murmela"].as_table();
  if (expected ? !server || *server != *expected
               : (*after)["mcp_servers"]["murmela"].node() != nullptr)
    return false;

  remove_our_server(*before);
  remove_our_server(*after);
  return *before == *after;
}

}  // namespace murmela
