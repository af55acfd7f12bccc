#pragma once

#include <string>
#include <string_view>

#include "common/version.hpp"

namespace murmela {

// The help text for people; ends with a line feed.
const std::string& help_text();

// The running CLI's path as text (invalid UTF-8 replaced), or "murmela-cli"
// when the system cannot tell it.
std::string cli_path_text();

// The agent guide, with the CLI path in it; ends with a line feed.
std::string guide_text();

// "murmela-cli 0.28.8 (protocol 1)" and a line feed.
std::string version_line();

}  // namespace murmela
