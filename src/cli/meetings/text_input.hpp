#pragma once

#include <string>

#include "cli/invocation.hpp"

namespace murmela {

// The text of `--text T`, of the file `--file F`, or of stdin for `--file -`;
// exactly one of the two options must be given. Kept byte for byte.
[[nodiscard]] Result<std::string> read_text_input(const Invocation& invocation);

}  // namespace murmela
