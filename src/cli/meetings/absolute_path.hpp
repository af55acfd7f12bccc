#pragma once

#include <string>

#include "common/cli_error.hpp"

namespace murmela {

// A path argument made absolute against the current directory; nothing is
// normalised and nothing is checked on disk.
[[nodiscard]] Result<std::string> absolute_path(const std::string& argument);

}  // namespace murmela
