#pragma once

#include <expected>
#include <string>
#include <string_view>

namespace murmela {

// The whole contents of a file or stream; the error is an errno value.
[[nodiscard]] std::expected<std::string, int> read_file(const std::string& path);
[[nodiscard]] std::expected<std::string, int> read_stream(int fd);

// Creates or truncates `path` and writes `bytes` to it; the error is an errno.
[[nodiscard]] std::expected<void, int> write_file(const std::string& path,
                                                  const std::string& bytes);

// Appends `bytes` to `path` (created when missing) in one write. A write that
// does not go through whole (a full disk) is cut off again, so the file is
// left as it was; the error is an errno.
[[nodiscard]] std::expected<void, int> append_whole(const std::string& path,
                                                    std::string_view bytes);

}  // namespace murmela
