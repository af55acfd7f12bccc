#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace murmela {

// Byte-equal, or equal component by component (repeated separators, a
// trailing separator or a "." component make no difference).
bool same_path(std::string_view a, std::string_view b);

// The path's last component is "murmela-cli" or "murmela-cli.exe", ASCII
// letters compared without regard to case: any copy of the CLI counts as ours.
bool is_own_cli(std::string_view path);

}  // namespace murmela
