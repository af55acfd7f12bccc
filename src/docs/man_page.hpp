#pragma once

#include <expected>
#include <string>

namespace murmela {

// The manual page murmela-cli(1), in roff with the man macros. Fails with a
// description when the program holds something the page cannot describe (a
// flag the page has no words for).
std::expected<std::string, std::string> man_page();

}  // namespace murmela
