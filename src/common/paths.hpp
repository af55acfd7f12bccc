#pragma once

#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/system_error.hpp"

namespace murmela {

// Appends `right` as one more component; a separator is inserted only when
// `left` is not empty and does not end with one.
std::string join_path(std::string_view left, std::string_view right);

// The folder that holds `path`, or nothing for a root or an empty path.
std::optional<std::string> parent_folder(std::string_view path);

// The last component, or nothing when there is none (a root, "..", empty).
std::optional<std::string_view> file_name(std::string_view path);

// The components of a path, "." and repeated separators dropped, a leading
// "/" kept as its own component.
std::vector<std::string_view> path_components(std::string_view path);

// The folders of a PATH-style list, split at ':' (an empty entry stays empty:
// it means the current folder).
std::vector<std::string> split_search_path(std::string_view list);

// Byte-equal, or equal component by component (repeated separators, a
// trailing separator or a "." component make no difference).
bool same_path(std::string_view a, std::string_view b);

// A path argument made absolute against the current directory; nothing is
// normalised and nothing is checked on disk.
[[nodiscard]] std::expected<std::string, SystemError> absolute_path(const std::string& argument);

// The file a path leads to once every symbolic link on the way is followed
// (it need not exist); the path itself when it is no link.
std::string final_link_target(const std::string& path);

// The current working directory.
[[nodiscard]] std::expected<std::string, SystemError> current_directory();

bool is_directory(const std::string& path);     // following links
bool is_regular_file(const std::string& path);  // following links
bool exists(const std::string& path);           // following links

}  // namespace murmela
