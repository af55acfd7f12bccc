#pragma once

#include <expected>
#include <string>
#include <string_view>

namespace murmela {

// The manual page murmela-cli(1), in roff with the man macros. Fails with a
// description when the program holds something the page cannot describe (a
// flag the page has no words for).
std::expected<std::string, std::string> man_page();

// The page's words on a flag (`--cleaned`, `-h`); empty for one it does not
// describe.
std::string_view flag_text(std::string_view argument);

}  // namespace murmela
