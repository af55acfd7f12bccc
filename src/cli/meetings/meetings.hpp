#pragma once

#include <span>
#include <string>

#include "cli/context.hpp"

namespace murmela {

// The `meetings` family: the words after `meetings` (or `meeting`).
[[nodiscard]] Done run_meetings(const Context& ctx, std::span<const std::string> words);

}  // namespace murmela
