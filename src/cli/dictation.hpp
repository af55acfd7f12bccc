#pragma once

#include <span>
#include <string>

#include "cli/context.hpp"

namespace murmela {

// `dictation start|stop|cancel|history|copy-last`: the words after `dictation`.
[[nodiscard]] Done run_dictation(const Context& ctx, std::span<const std::string> words);

}  // namespace murmela
