#include "cli/dispatch.hpp"

#include <algorithm>
#include <vector>

#include <fmt/format.h>
#include <fmt/ranges.h>

#include "cli/command_lines.hpp"
#include "cli/command_table.hpp"
#include "cli/texts.hpp"

namespace murmela {

namespace {

struct Runnable {
  CommandLine command;
  const CommandRow* row;
};

const std::vector<Runnable>& runnable_commands() {
  static const std::vector<Runnable> runnable = [] {
    std::vector<Runnable> all;
    for (const CommandRow& row : command_table()) {
      for (CommandLine& command : commands_of_row(row)) all.push_back({std::move(command), &row});
    }
    return all;
  }();
  return runnable;
}

// Whether the words after a command's own words fit its usage: as many as it
// takes, and a word from a closed list (`on|off`) one of the list.
bool fits(const CommandLine& command, Words arguments) {
  if (arguments.size() < command.required_arguments) return false;
  if (!command.last_argument_repeats && arguments.size() > command.arguments.size()) return false;
  for (std::size_t i = 0; i < arguments.size() && i < command.arguments.size(); ++i) {
    const ValueSpec& value = command.arguments[i];
    if (value.closed && std::ranges::find(value.choices, arguments[i]) == value.choices.end()) {
      return false;
    }
  }
  return true;
}

const Runnable* matching(Words words) {
  for (const Runnable& runnable : runnable_commands()) {
    const auto& command_words = runnable.command.words;
    if (words.size() < command_words.size() ||
        !std::equal(command_words.begin(), command_words.end(), words.begin())) {
      continue;
    }
    if (fits(runnable.command, words.subspan(command_words.size()))) return &runnable;
  }
  return nullptr;
}

// The typed words with a family's alias (`meeting`) put as the family's word.
std::vector<std::string> canonical_words(std::span<const std::string> typed) {
  std::vector<std::string> words(typed.begin(), typed.end());
  if (!words.empty()) words[0] = family_word(words[0]);
  return words;
}

}  // namespace

const CommandRow* command_row(std::span<const std::string> typed) {
  if (typed.empty()) return nullptr;
  const Runnable* runnable = matching(canonical_words(typed));
  return runnable ? runnable->row : nullptr;
}

Done dispatch(const Context& ctx) {
  if (ctx.invocation.words.empty()) {
    ctx.out.write(help_text());
    return {};
  }
  const std::vector<std::string> words = canonical_words(ctx.invocation.words);
  if (const Runnable* runnable = matching(words)) {
    const std::size_t n = runnable->command.words.size();
    return runnable->row->run(ctx, Words(words).first(n), Words(words).subspan(n));
  }
  const std::string usage = family_usage(words[0], Words(words).subspan(1));
  if (!usage.empty()) return fail(CliError::usage(usage));
  return fail(CliError::usage(
      fmt::format("Unknown command: {}", fmt::join(ctx.invocation.words, " "))));
}

}  // namespace murmela
