#pragma once

#include <expected>
#include <string>

namespace murmela {

// The whole contents of a file or stream; the error is an errno value.
std::expected<std::string, int> read_file(const std::string& path);
std::expected<std::string, int> read_stream(int fd);

// Creates or truncates `path` and writes `bytes` to it; the error is an errno.
std::expected<void, int> write_file(const std::string& path, const std::string& bytes);

}  // namespace murmela
