#include "cli/command_lines.hpp"

#include <algorithm>
#include <string_view>

#include "cli/command_table.hpp"

namespace murmela {

namespace {

std::vector<std::string> split(std::string_view text, std::string_view separator) {
  std::vector<std::string> parts;
  for (std::size_t start = 0;;) {
    const std::size_t end = text.find(separator, start);
    parts.emplace_back(text.substr(start, end - start));
    if (end == std::string_view::npos) return parts;
    start = end + separator.size();
  }
}

std::string_view trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

bool is_command_word(std::string_view token) {
  return !token.empty() && std::all_of(token.begin(), token.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || c == '-' || c == '|' || c == '_';
  });
}

ValueSpec choices_of(std::string_view alternatives, std::string_view separator) {
  return {ValueKind::Choice, split(alternatives, separator)};
}

// What a positional argument of the help's usage can be. `summary` lists the
// values of an optional word that has them ("Open a window: dictation, ...").
ValueSpec argument_value(std::string_view placeholder, bool optional, std::string_view summary) {
  if (placeholder == "<id>") return {ValueKind::MeetingId, {}};
  if (placeholder == "<file>" || placeholder == "<path>") return {ValueKind::Path, {}};
  if (placeholder == "key") return {ValueKind::SettingKey, {}};
  if (placeholder == "key=value") return {ValueKind::SettingPair, {}};
  if (placeholder.find('|') != std::string_view::npos) {
    ValueSpec value = choices_of(placeholder, "|");
    value.closed = true;
    return value;
  }
  if (const auto colon = summary.find(": "); optional && colon != std::string_view::npos) {
    return choices_of(summary.substr(colon + 2), ", ");
  }
  return {};
}

OptionSpec option_of(std::string_view flag, std::string_view placeholder) {
  OptionSpec option{std::string(flag.substr(2)), std::string(placeholder), std::nullopt};
  if (placeholder.empty()) return option;
  if (placeholder.find('|') != std::string_view::npos) {
    option.value = choices_of(placeholder, "|");
  } else {
    const ValueKind kind = option.name == "file"    ? ValueKind::Path
                           : option.name == "model" ? ValueKind::Model
                                                    : ValueKind::Text;
    option.value = ValueSpec{kind, {}};
  }
  return option;
}

// Reads what follows the command words: positional placeholders, `[...]`
// groups for optional words and options, `--name V`, `|` between
// alternatives and `...` for a repeated last argument.
void read_usage(const std::vector<std::string>& tokens, std::size_t i, CommandLine& command) {
  while (i < tokens.size()) {
    const std::string& token = tokens[i++];
    if (token == "...") {
      command.last_argument_repeats = true;
    } else if (token == "|") {
      continue;
    } else if (token.starts_with('[')) {
      std::vector<std::string_view> group{std::string_view(token).substr(1)};
      while (!group.back().ends_with(']') && i < tokens.size()) group.emplace_back(tokens[i++]);
      group.back().remove_suffix(1);
      if (group[0].starts_with("--")) {
        command.options.push_back(option_of(group[0], group.size() > 1 ? group[1] : ""));
      } else {
        command.arguments.push_back(argument_value(group[0], true, command.summary));
      }
    } else if (token.starts_with("--")) {
      const bool has_value = i < tokens.size() && tokens[i] != "|" &&
                             !tokens[i].starts_with("--") && !tokens[i].starts_with('[');
      command.options.push_back(option_of(token, has_value ? tokens[i++] : ""));
    } else {
      command.arguments.push_back(argument_value(token, false, command.summary));
      ++command.required_arguments;
    }
  }
}

// "  meetings export <id> <path> [--format md|txt]   summary": the usage
// ends where two spaces set the summary apart.
std::vector<CommandLine> commands_of_line(std::string_view line, std::string_view section_line) {
  const std::size_t gap = line.find("  ");
  const std::string_view syntax = line.substr(0, gap);
  const std::size_t section_gap = section_line.find("  ");
  CommandLine command;
  command.section = section_line.substr(0, section_gap);
  if (section_gap != std::string_view::npos) {
    command.section_note = trimmed(section_line.substr(section_gap));
  }
  command.syntax = syntax;
  command.summary = gap == std::string_view::npos ? "" : trimmed(line.substr(gap));

  const std::vector<std::string> tokens = split(syntax, " ");
  std::size_t i = 0;
  std::size_t usage_start = 0;  // the words and the single spaces after them
  while (i < tokens.size() && is_command_word(tokens[i])) {
    usage_start += tokens[i].size() + 1;
    command.words.push_back(tokens[i++]);
  }
  command.usage = syntax.substr(std::min(usage_start, syntax.size()));
  read_usage(tokens, i, command);

  std::vector<CommandLine> commands;
  for (const std::string& alternative : split(command.words.back(), "|")) {
    commands.push_back(command);
    commands.back().words.back() = alternative;
  }
  return commands;
}

}  // namespace

// The first line is the command; further lines go on with its description.
std::vector<CommandLine> commands_of_row(const CommandRow& row) {
  const std::vector<std::string> lines = split(row.line, "\n");
  std::vector<CommandLine> commands = commands_of_line(lines[0], row.section);
  for (std::size_t i = 1; i < lines.size(); ++i) {
    for (CommandLine& command : commands) {
      command.summary += ' ';
      command.summary += trimmed(lines[i]);
    }
  }
  return commands;
}

const std::vector<CommandLine>& documented_commands() {
  static const std::vector<CommandLine> commands = [] {
    std::vector<CommandLine> documented;
    for (const CommandRow& row : command_table()) {
      if (row.section.empty()) continue;
      for (CommandLine& command : commands_of_row(row)) documented.push_back(std::move(command));
    }
    return documented;
  }();
  return commands;
}

}  // namespace murmela
