#include "common/atomic_file.hpp"

#include <cerrno>
#include <cstdlib>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>

#include "common/descriptor.hpp"
#include "common/disk.hpp"
#include "common/paths.hpp"
#include "common/system_error.hpp"

namespace murmela {

namespace {

constexpr std::string_view kTemporaryInfix = ".murmela-tmp-";

std::string folder_of(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string name_of(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Hidden, and named after the file, so that a leftover is easy to tell.
std::string temporary_prefix(const std::string& target) {
  std::string prefix = ".";
  prefix += name_of(target);
  prefix += kTemporaryInfix;
  return prefix;
}

mode_t current_umask() {
  const mode_t mask = ::umask(077);
  ::umask(mask);
  return mask;
}

// Writes the complete file under a temporary name: its bytes, its mode, and
// a sync, so that the rename never shows a file whose data is still in
// flight.
std::expected<std::string, SystemError> write_temporary(Disk& disk, const std::string& target,
                                                        const std::string& text, mode_t mode) {
  std::string name = join_path(folder_of(target), temporary_prefix(target));
  name += "XXXXXX";
  // The file is created exclusively (a planted link makes it fail, it is
  // never followed) with mode 0600.
  const auto fd = disk.create_temporary(name);
  if (!fd) return std::unexpected(fd.error());
  std::expected<void, SystemError> done = disk.write(*fd, text);
  if (done) done = disk.change_mode(*fd, mode);
  if (done) done = disk.sync(*fd);
  if (auto closed = disk.close(*fd); !closed && done) done = closed;
  if (!done) {
    disk.remove(name);
    return std::unexpected(done.error());
  }
  return name;
}

// Replaces `target` by a complete new file of `mode`; `shown` is the path the
// caller knows it by, for the message.
std::expected<void, std::string> replace_file(Disk& disk, const std::string& shown,
                                              const std::string& target, const std::string& text,
                                              mode_t mode) {
  auto temporary = write_temporary(disk, target, text, mode);
  if (temporary) {
    if (auto renamed = disk.rename(*temporary, target); !renamed) {
      disk.remove(*temporary);
      temporary = std::unexpected(renamed.error());
    }
  }
  if (!temporary)
    return std::unexpected(
        fmt::format("Cannot write {}: {}", shown, system_error_text(temporary.error())));
  disk.sync_folder(folder_of(target));
  return {};
}

}  // namespace

std::expected<void, std::string> write_atomically(const std::string& path, const std::string& text,
                                                  unsigned new_mode, Disk& disk) {
  const std::string target = final_link_target(path);
  // A config kept private (it may hold API keys) must stay private.
  struct stat existing {};
  const mode_t mode = ::stat(target.c_str(), &existing) == 0
                          ? (existing.st_mode & 07777)
                          : (static_cast<mode_t>(new_mode) & ~current_umask());
  return replace_file(disk, path, target, text, mode);
}

std::expected<void, std::string> replace_private_file(const std::string& path,
                                                      const std::string& text, Disk& disk) {
  // rename() replaces the entry at `path` itself, whatever it is: a link
  // planted there is never followed.
  return replace_file(disk, path, path, text, 0600);
}

void remove_stale_temporaries(const std::string& path, AtLink at_link) {
  const std::string target = at_link == AtLink::Follow ? final_link_target(path) : path;
  const std::string folder = folder_of(target);
  const std::string prefix = temporary_prefix(target);
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (!name.starts_with(prefix) || name.size() != prefix.size() + 6) continue;
    const std::string leftover = join_path(folder, std::string(name));
    struct stat info {};
    if (::lstat(leftover.c_str(), &info) == 0 && S_ISREG(info.st_mode)) ::unlink(leftover.c_str());
  }
  ::closedir(dir);
}

}  // namespace murmela
