#pragma once

#include <span>
#include <string>

#include "cli/context.hpp"

namespace murmela {

[[nodiscard]] Done run_status(const Context& ctx);
[[nodiscard]] Done run_quit(const Context& ctx);
[[nodiscard]] Done run_open(const Context& ctx, const std::string& page);
[[nodiscard]] Done run_invoke(const Context& ctx, const std::string& command,
                              const std::string* json_text);

// `settings`, `settings get [key]`, `settings set key=value ...`: the words
// after `settings`.
[[nodiscard]] Done run_settings(const Context& ctx, std::span<const std::string> words);

// The value a `settings set` word stores: JSON when the text parses as one
// document, else the text itself as a string.
Json setting_value(const std::string& text);

}  // namespace murmela
