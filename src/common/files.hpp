#pragma once

#include <expected>
#include <string>
#include <string_view>

#include <sys/stat.h>

#include "common/descriptor.hpp"
#include "common/system_error.hpp"

namespace murmela {

// The whole contents of a file or stream.
[[nodiscard]] std::expected<std::string, SystemError> read_file(const std::string& path);
[[nodiscard]] std::expected<std::string, SystemError> read_stream(int fd);

// Creates or truncates `path` and writes `bytes` to it.
[[nodiscard]] std::expected<void, SystemError> write_file(const std::string& path,
                                                          const std::string& bytes);

// Appends `bytes` to `path` (created when missing) in one write. A write that
// does not go through whole (a full disk) is cut off again, so the file is
// left as it was.
[[nodiscard]] std::expected<void, SystemError> append_whole(const std::string& path,
                                                            std::string_view bytes);

// Files of our own in a folder that others may be able to write to (a data
// folder left world-writable): a link or another user's file planted at
// their path must never be read or written through.

// Whether `info` (of lstat or fstat) is a file of our own: a regular file of
// the effective user, with no second name (a hard link) and no link followed.
bool is_own_file(const struct stat& info);

// Reads a file of our own; anything else at `path` gives ELOOP (a symbolic
// link) or EPERM, and is never followed, nor opened if it is a link.
[[nodiscard]] std::expected<std::string, SystemError> read_own_file(const std::string& path);

// Opens a file of our own for reading (enough to lock it), made 0600
// whatever the umask or its mode was: created when missing, and whatever else
// sits at `path` removed first. EPERM when something not ours is back at
// `path` by the time it is opened.
[[nodiscard]] std::expected<FileDescriptor, SystemError> open_own_file(const std::string& path);

// Creates `path` and its missing parents, each new folder 0700 whatever the
// umask; folders that exist keep their mode.
[[nodiscard]] std::expected<void, SystemError> make_private_folders(const std::string& path);

}  // namespace murmela
