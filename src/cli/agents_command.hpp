#pragma once

#include <string_view>

#include "cli/context.hpp"

namespace murmela {

// `agents status|install|remove|ensure|uninstall`: the word after `agents`.
[[nodiscard]] Done run_agents(const Context& ctx, std::string_view action);

}  // namespace murmela
