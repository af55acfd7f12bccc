#include "agent_integration/codex_target.hpp"

#include <cerrno>

#include <fmt/format.h>

#include "agent_integration/agent_environment.hpp"
#include "agent_integration/codex_check.hpp"
#include "agent_integration/entry_decision.hpp"
#include "agent_integration/toml_lines.hpp"
#include "common/atomic_file.hpp"
#include "common/environment.hpp"
#include "common/files.hpp"
#include "common/paths.hpp"
#include "common/system_error.hpp"
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

std::string codex_folder(const AgentEnvironment& environment) {
  if (environment.codex_home) return *environment.codex_home;
  return join_path(environment.home.value_or(""), ".codex");
}

}  // namespace

std::string codex_config_path(const AgentEnvironment& environment) {
  return join_path(codex_folder(environment), "config.toml");
}

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

std::optional<TargetReport> update_codex(IntegrationMode mode,
                                         const AgentEnvironment& environment) {
  const std::string& cli_path = environment.cli_path;
  if (!is_directory(codex_folder(environment))) return std::nullopt;
  const std::string path = codex_config_path(environment);
  auto line = [&](ReportState state, std::string detail) {
    return TargetReport{"Codex", state, std::move(detail)};
  };

  auto read = read_file(path);
  if (!read && read.error() != ENOENT)
    return line(ReportState::Failed, system_error_text(read.error()));
  const std::string text = read.value_or("");
  if (!is_valid_utf8(text))
    return line(ReportState::Skipped, fmt::format("{}: not UTF-8 text, left alone", path));

  const CodexConfig config = read_codex_config(text);
  if (!config.valid)
    return line(ReportState::Skipped, fmt::format("{}: not valid TOML, left alone", path));

  std::vector<std::string> lines = split_lines(text);
  const auto ours = find_our_table(lines);
  // A server Codex sees that is not our exact table (another spelling, an
  // inline table, a key under [mcp_servers]), or a table the parser does not
  // see (it stands inside a string): never touched.
  if (config.has_server != ours.has_value() || defined_elsewhere(lines, ours))
    return line(ReportState::Skipped, path);

  // The command as Codex reads it, compared whole: a comment or another
  // program that merely mentions us is not us.
  const std::string cli_text = lossy_utf8(cli_path);
  const std::string quoted = toml_quoted(cli_text);
  const bool mentions_cli = ours && ours->command && config.command && is_own_cli(*config.command);
  const bool points_here = mentions_cli && *config.command == cli_text;

  std::string new_text;
  ReportState state = ReportState::Failed;
  CodexEdit edit = CodexEdit::Add;
  const EntryDecision decision =
      decide_entry(mode, {ours.has_value(), mentions_cli, points_here}, is_valid_utf8(cli_path));
  switch (decision) {
    case EntryDecision::Update:
      lines[*ours->command] = "command = " + quoted;
      new_text = joined(lines);
      state = ReportState::Updated;
      edit = CodexEdit::Update;
      break;
    case EntryDecision::Add:
      new_text = std::string(text.substr(0, text.find_last_not_of(" \t\r\n\f\v") + 1));
      if (!new_text.empty()) new_text += "\n\n";
      new_text += fmt::format(
          "{}\n# Added by Murmela: points agents to murmela-cli\ncommand = {}\nargs = "
          "[\"mcp\"]\n",
          kHeader, quoted);
      state = ReportState::Added;
      break;
    case EntryDecision::Remove: {
      std::size_t keep = ours->header;
      while (keep > 0 && trim(lines[keep - 1]).empty()) --keep;
      std::vector<std::string> kept(lines.begin(),
                                    lines.begin() + static_cast<std::ptrdiff_t>(keep));
      kept.insert(kept.end(), lines.begin() + static_cast<std::ptrdiff_t>(ours->end_with_subtables),
                  lines.end());
      new_text = joined(kept);
      state = ReportState::Removed;
      edit = CodexEdit::Remove;
      break;
    }
    default:
      return unchanged_file_report(decision, "Codex", path);
  }
  // The line editor keeps the user's bytes; the parser says whether the edit
  // is exactly the one meant before anything is written.
  if (!is_exact_codex_edit(text, new_text, edit, cli_text)) {
    return line(ReportState::Skipped,
                fmt::format("{}: cannot edit this file safely, left alone", path));
  }
  if (auto written = write_atomically(path, new_text); !written)
    return line(ReportState::Failed, written.error());
  return line(state, path);
}

}  // namespace murmela
