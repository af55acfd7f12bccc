#pragma once

#include <expected>
#include <string>

namespace murmela {

// Replaces `path` whole: the text goes to a new temporary file beside the
// file (a unique name, created exclusively and never through a link, private
// until it is complete), which is synced and renamed over it. Readers never
// see a half-written file; a crash leaves the old file or the new one. A
// path that is a symbolic link is replaced at the link's final target, so
// the link stays. The new file keeps the permission bits of the one it
// replaces (a new one gets `new_mode`, less the umask). The error is
// "Cannot write {path}: {reason}".
[[nodiscard]] std::expected<void, std::string> write_atomically(const std::string& path,
                                                                const std::string& text,
                                                                unsigned new_mode = 0666);

// Removes what a killed writer may have left beside `path`: its temporary
// files. Only safe while no other writer of `path` can be at work.
void remove_stale_temporaries(const std::string& path);

}  // namespace murmela
