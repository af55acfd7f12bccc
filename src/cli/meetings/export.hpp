#pragma once

#include <optional>
#include <string>

#include "common/cli_error.hpp"

namespace murmela {

// The extension of the path's last component: nothing for "..", a root or a
// name whose only dot is its first character; empty for a name ending in ".".
std::optional<std::string> path_extension(const std::string& path);

// The `format` sent to the app: from --format as typed, else from the path's
// extension with ASCII capitals folded, else Markdown.
[[nodiscard]] Result<std::string> export_format_for(
    const std::string& absolute_path, const std::optional<std::string>& format_option);

}  // namespace murmela
