#pragma once

#include <expected>
#include <optional>
#include <string>
#include <string_view>

namespace murmela {

// $HOME, only when it is set and names an existing directory.
std::optional<std::string> home_folder();

// Byte-equal, or equal component by component (repeated separators, a
// trailing separator or a "." component make no difference).
bool same_path(std::string_view a, std::string_view b);

// The path's last component is "murmela-cli" or "murmela-cli.exe", ASCII
// letters compared without regard to case: any copy of the CLI counts as ours.
bool is_own_cli(std::string_view path);

// Replaces `path` whole through a temporary file beside it, so that readers
// never see a half-written file and a crash never leaves an empty one. The
// new file keeps the permission bits of the one it replaces. The error is
// "Cannot write {path}: {reason}".
std::expected<void, std::string> write_atomically(const std::string& path, const std::string& text);

// The temporary path write_atomically uses: the extension replaced by
// "murmela-tmp".
std::string temporary_path_for(const std::string& path);

}  // namespace murmela
