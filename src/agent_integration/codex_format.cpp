#include "agent_integration/codex_format.hpp"

#include <fmt/format.h>

#include "agent_integration/agent_environment.hpp"
#include "agent_integration/codex_check.hpp"
#include "agent_integration/toml_lines.hpp"
#include "common/text.hpp"
#include "common/utf8.hpp"

namespace murmela {

namespace {

constexpr std::string_view kHeader = "[mcp_servers.murmela]";

std::string joined(const std::vector<std::string>& lines) {
  std::string text;
  for (std::size_t i = 0; i < lines.size(); ++i) text += (i > 0 ? "\n" : "") + lines[i];
  return text + "\n";
}

bool starts_with_bracket(const std::string& line) { return trim(line).starts_with('['); }

bool names_our_server(const std::vector<std::string>& path) {
  return path.size() >= 2 && path[0] == "mcp_servers" && path[1] == "murmela";
}

// Where our table stands: its header, the end of the table itself, and the
// end of the subtables that directly follow it (Codex writes
// [mcp_servers.murmela.env] there).
struct OurTable {
  std::size_t header;
  std::size_t end;
  std::size_t end_with_subtables;
  std::optional<std::size_t> command;
};

std::optional<OurTable> find_our_table(const std::vector<std::string>& lines) {
  std::size_t header = 0;
  while (header < lines.size() && trim(lines[header]) != kHeader) ++header;
  if (header == lines.size()) return std::nullopt;

  auto next_bracket = [&](std::size_t from) {
    while (from < lines.size() && !starts_with_bracket(lines[from])) ++from;
    return from;
  };
  OurTable table{header, next_bracket(header + 1), 0, std::nullopt};
  table.end_with_subtables = table.end;
  while (table.end_with_subtables < lines.size()) {
    const TomlLine line = classify_toml_line(lines[table.end_with_subtables]);
    if (line.kind != TomlLine::Kind::Header || line.path.size() <= 2 ||
        !names_our_server(line.path))
      break;
    table.end_with_subtables = next_bracket(table.end_with_subtables + 1);
  }
  for (std::size_t i = header + 1; i < table.end; ++i) {
    const TomlLine line = classify_toml_line(lines[i]);
    if (line.kind == TomlLine::Kind::Key && line.path == std::vector<std::string>{"command"}) {
      table.command = i;
      break;
    }
  }
  return table;
}

// A server `murmela` that Codex sees but that is not our exact table: a header
// in another spelling, a key under [mcp_servers], a second table. Touching
// the file then could leave Codex with a duplicate or a broken server.
bool defined_elsewhere(const std::vector<std::string>& lines, const std::optional<OurTable>& ours) {
  for (const auto& definition : toml_definitions(lines)) {
    if (!names_our_server(definition.path)) continue;
    if (ours && definition.line >= ours->header && definition.line < ours->end_with_subtables)
      continue;
    return true;
  }
  return false;
}

std::expected<FoundEntry, std::string> find_codex_entry(const std::string& text,
                                                        const std::string& cli_text) {
  if (!is_valid_utf8(text)) return std::unexpected("not UTF-8 text, left alone");
  const CodexConfig config = read_codex_config(text);
  if (!config.valid) return std::unexpected("not valid TOML, left alone");

  const std::vector<std::string> lines = split_lines(text);
  const auto ours = find_our_table(lines);
  // A server Codex sees that is not our exact table (another spelling, an
  // inline table, a key under [mcp_servers]), or a table the parser does not
  // see (it stands inside a string): another program's, never touched.
  if (config.has_server != ours.has_value() || defined_elsewhere(lines, ours))
    return FoundEntry{.present = true};

  // The command as Codex reads it, compared whole: a comment or another
  // program that merely mentions us is not us.
  const bool mentions_cli = ours && ours->command && config.command && is_own_cli(*config.command);
  return FoundEntry{.present = ours.has_value(),
                    .ours = mentions_cli,
                    .points_here = mentions_cli && *config.command == cli_text};
}

std::string with_table_added(const std::string& text, const std::string& quoted) {
  std::string added = text.substr(0, text.find_last_not_of(" \t\r\n\f\v") + 1);
  if (!added.empty()) added += "\n\n";
  return added + fmt::format(
                     "{}\n# Added by Murmela: points agents to murmela-cli\ncommand = {}\nargs = "
                     "[\"mcp\"]\n",
                     kHeader, quoted);
}

// The table and its subtables go, and the blank lines that set it apart.
std::string without_table(const std::vector<std::string>& lines, const OurTable& ours) {
  std::size_t keep = ours.header;
  while (keep > 0 && trim(lines[keep - 1]).empty()) --keep;
  std::vector<std::string> kept(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(keep));
  kept.insert(kept.end(), lines.begin() + static_cast<std::ptrdiff_t>(ours.end_with_subtables),
              lines.end());
  return joined(kept);
}

// find_codex_entry accepted this text; were our table not where it found it, the
// text comes back unchanged, which no check takes for an edit.
std::string edited_codex(const std::string& text, EntryDecision change, const std::string& quoted) {
  if (change == EntryDecision::Add) return with_table_added(text, quoted);
  std::vector<std::string> lines = split_lines(text);
  const auto ours = find_our_table(lines);
  if (!ours) return text;
  if (change == EntryDecision::Remove) return without_table(lines, *ours);
  if (change != EntryDecision::Update || !ours->command) return text;
  lines[*ours->command] = "command = " + quoted;
  return joined(lines);
}

CodexEdit codex_edit(EntryDecision change) {
  if (change == EntryDecision::Update) return CodexEdit::Update;
  return change == EntryDecision::Remove ? CodexEdit::Remove : CodexEdit::Add;
}

}  // namespace

std::string toml_quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '"':
        out += "\\\"";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
          out += fmt::format("\\u{:04X}", static_cast<unsigned char>(c));
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

ConfigFormat codex_format(const std::string& cli_path) {
  const std::string cli_text = lossy_utf8(cli_path);
  const std::string quoted = toml_quoted(cli_text);
  return {
      .missing_text = "",
      // TOML strings are UTF-8: only a path that is text can be written.
      .can_name_cli = is_valid_utf8(cli_path),
      .find = [=](const std::string& text) { return find_codex_entry(text, cli_text); },
      .edit = [=](const std::string& text,
                  EntryDecision change) { return edited_codex(text, change, quoted); },
      .check =
          [=](const std::string& text, const std::string& edited, EntryDecision change) {
            return is_exact_codex_edit(text, edited, codex_edit(change), cli_text);
          },
  };
}

}  // namespace murmela
