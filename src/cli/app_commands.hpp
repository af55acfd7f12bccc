#pragma once

#include <span>
#include <string>

#include "cli/context.hpp"

namespace murmela {

Done run_status(const Context& ctx);
Done run_quit(const Context& ctx);
Done run_open(const Context& ctx, const std::string& page);
Done run_invoke(const Context& ctx, const std::string& command, const std::string* json_text);

// `settings`, `settings get [key]`, `settings set key=value ...`: the words
// after `settings`.
Done run_settings(const Context& ctx, std::span<const std::string> words);

// The value a `settings set` word stores: JSON when the text parses as one
// document, else the text itself as a string.
Json setting_value(const std::string& text);

}  // namespace murmela
