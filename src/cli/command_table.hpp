#pragma once

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

// One command of the CLI. `line` is its help line as the help prints it,
// without the two leading spaces: the command words, the usage and, two
// spaces apart, the description; further lines of the description follow
// after a line feed with their indentation. The words and the usage decide
// which command lines the row runs, so the help cannot drift from dispatch.
// A row without a section is not documented: an alias or a command only
// scripts call.
struct CommandRow {
  std::string_view section;  // the help's section heading line; empty when undocumented
  std::string_view line;
  CommandHandler run;
};

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
