#pragma once

#include <expected>
#include <string>

#include "common/disk.hpp"

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
                                                                unsigned new_mode = 0666,
                                                                Disk& disk = real_disk());

// Replaces a private file of our own whole, like write_atomically, but the
// entry at `path` itself: a symbolic link or another user's file planted
// there is replaced, never written through, and the new file is 0600
// whatever the umask or the mode of what it replaces.
[[nodiscard]] std::expected<void, std::string> replace_private_file(
    const std::string& path, const std::string& text, Disk& disk = real_disk());

// Whether a symbolic link at a path leads to the file meant (another
// product's configuration) or is only in the way (a file of our own).
enum class AtLink { Follow, Replace };

// Removes what a killed writer may have left beside `path` (beside its
// final target, when links are followed): its temporary files. Only safe
// while no other writer of `path` can be at work.
void remove_stale_temporaries(const std::string& path, AtLink at_link = AtLink::Follow);

}  // namespace murmela
