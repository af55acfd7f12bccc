#pragma once

#include "cli/context.hpp"

namespace murmela {

// Runs the command the positional words name. Output is already written when
// it returns success.
[[nodiscard]] Done dispatch(const Context& ctx);

}  // namespace murmela
