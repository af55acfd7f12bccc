#pragma once

#include <span>
#include <string>

#include "cli/context.hpp"

namespace murmela {

// Runs the command the positional words name. Output is already written when
// it returns success.
[[nodiscard]] Done dispatch(const Context& ctx);

struct CommandRow;

// The row of the command table that positional words run, or null when none
// does (no words at all run the help).
const CommandRow* command_row(std::span<const std::string> words);

}  // namespace murmela
