#include "cli/command_lines.hpp"

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
void read_usage(const std::vector<std::string>& tokens, CommandLine& command) {
  for (std::size_t i = 0; i < tokens.size();) {
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

std::string joined_lines(std::string_view text) {
  std::string joined;
  for (const std::string& line : split(text, "\n")) {
    if (!joined.empty()) joined += ' ';
    joined += trimmed(line);
  }
  return joined;
}

}  // namespace

std::vector<CommandLine> commands_of_row(const CommandRow& row) {
  CommandLine command;
  const std::size_t section_gap = row.section.find("  ");
  command.section = row.section.substr(0, section_gap);
  if (section_gap != std::string_view::npos) {
    command.section_note = trimmed(row.section.substr(section_gap));
  }
  command.syntax = row_syntax(row);
  command.words = split(row.words, " ");
  command.usage = row.usage;
  command.summary = joined_lines(row.summary);
  if (!row.usage.empty()) read_usage(split(row.usage, " "), command);

  std::vector<CommandLine> commands;
  for (const std::string& alternative : split(command.words.back(), "|")) {
    commands.push_back(command);
    commands.back().words.back() = alternative;
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
