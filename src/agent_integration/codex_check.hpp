#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace murmela {

// What a real TOML parser makes of Codex's config.toml: the line editor keeps
// the user's bytes, and this tells whether its edits mean what they should.
struct CodexConfig {
  bool valid = false;                  // the text is TOML
  bool has_server = false;             // mcp_servers.murmela exists, in whatever spelling
  std::optional<std::string> command;  // its command, when it is a string
};

CodexConfig read_codex_config(std::string_view text);

enum class CodexEdit { Add, Update, Remove };

// Whether `edited` is `original` with exactly the one change: our server
// added as {command, args = ["mcp"]}, its command set to `command` (all else
// in it kept), or the server removed. Everything else must be equal, an
// `mcp_servers` table left empty counting as absent.
bool is_exact_codex_edit(std::string_view original, std::string_view edited, CodexEdit edit,
                         const std::string& command);

}  // namespace murmela
