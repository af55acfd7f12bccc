#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "cli/context.hpp"

namespace murmela {

using Words = std::span<const std::string>;

// Runs one command: `command` is the command words as typed (`meetings`,
// `export`), `arguments` the positional words after them, already counted
// against the row's usage.
using CommandHandler = Done (*)(const Context& ctx, Words command, Words arguments);

// Where the help sets a row's summary, counted from after the two spaces
// that begin each command line: most rows, and the meetings rows whose
// usage is long with their neighbours.
inline constexpr std::size_t kSummaryColumn = 31;
inline constexpr std::size_t kWideSummaryColumn = 43;

// One command of the CLI. `words` and `usage` decide which command lines the
// row runs, and the help prints them as they are, so the help cannot drift
// from dispatch. `words` are the command words, the last one possibly
// alternatives (`start|stop|cancel`); `usage` is what follows them:
// placeholders (`<id>`, `key=value`), choices (`on|off`), `[...]` for what
// may be left out, options (`--title T`) and `...` for a repeated argument.
// The summary may go on over further help lines, each after a line feed.
// A row without a section is not documented: an alias or a command only
// scripts call.
struct CommandRow {
  std::string_view section;  // the help's section heading line; empty when undocumented
  std::string_view words;
  std::string_view usage;
  std::string_view summary;
  CommandHandler run;
  std::size_t summary_column = kSummaryColumn;
};

// The row's command line as the help shows it, without its summary.
std::string row_syntax(const CommandRow& row);

// Every command, documented ones in the help's order.
std::span<const CommandRow> command_table();

// The help's command sections, made from the documented rows: each heading,
// its rows indented by two spaces, a blank line between sections.
std::string command_table_help();

// What a first word that names a family of commands stands for
// (`meeting` for `meetings`), or the word itself.
std::string_view family_word(std::string_view word);

// The usage error for words under a family's first word that name none of its
// commands; empty when `family` is no family.
std::string family_usage(std::string_view family, Words rest);

}  // namespace murmela
