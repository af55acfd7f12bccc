#pragma once

#include <span>
#include <string>

#include "cli/context.hpp"

namespace murmela {

// `agents status|install|remove|ensure|uninstall`: the words after `agents`.
[[nodiscard]] Done run_agents(const Context& ctx, std::span<const std::string> words);

}  // namespace murmela
