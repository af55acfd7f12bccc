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

// `settings get [key]`: every setting, or the one `key` names.
[[nodiscard]] Done print_settings(const Context& ctx, const std::string* key);

// `settings set key=value ...`: every word is checked before anything is
// sent, so a bad word leaves the app's settings untouched.
[[nodiscard]] Done change_settings(const Context& ctx, std::span<const std::string> pairs);

// The value a `settings set` word stores: JSON when the text parses as one
// document, else the text itself as a string.
Json setting_value(const std::string& text);

}  // namespace murmela
