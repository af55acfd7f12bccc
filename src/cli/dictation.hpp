#pragma once

#include <string_view>

#include "cli/context.hpp"

namespace murmela {

// `dictation start`, `stop` or `cancel`: the step's word.
[[nodiscard]] Done dictation_step(const Context& ctx, std::string_view step);

// `dictation history [--limit N]`.
[[nodiscard]] Done dictation_history(const Context& ctx);

}  // namespace murmela
