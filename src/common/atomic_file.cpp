#include "common/atomic_file.hpp"

#include <cerrno>
#include <cstdlib>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>

#include "common/descriptor.hpp"
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

// Writes the complete file under a temporary name; the error is an errno.
std::expected<std::string, int> write_temporary(const std::string& target, const std::string& text,
                                                mode_t mode) {
  std::string name = join_path(folder_of(target), temporary_prefix(target));
  name += "XXXXXX";
  // mkostemp creates the file exclusively (a planted link makes it fail, it
  // is never followed) with mode 0600.
  const int fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) return std::unexpected(errno);
  std::expected<void, int> done = write_all(fd, text);
  if (!done && done.error() == 0) done = std::unexpected(EIO);
  if (done && ::fchmod(fd, mode) != 0) done = std::unexpected(errno);
  if (done && ::fsync(fd) != 0) done = std::unexpected(errno);
  if (::close(fd) != 0 && done) done = std::unexpected(errno);
  if (!done) {
    ::unlink(name.c_str());
    return std::unexpected(done.error());
  }
  return name;
}

void sync_folder(const std::string& folder) {
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return;
  ::fsync(dir);
  ::close(dir);
}

}  // namespace

namespace {

// Replaces `target` by a complete new file of `mode`; `shown` is the path the
// caller knows it by, for the message.
std::expected<void, std::string> replace_file(const std::string& shown, const std::string& target,
                                              const std::string& text, mode_t mode) {
  auto temporary = write_temporary(target, text, mode);
  if (temporary && ::rename(temporary->c_str(), target.c_str()) != 0) {
    const int error = errno;
    ::unlink(temporary->c_str());
    temporary = std::unexpected(error);
  }
  if (!temporary)
    return std::unexpected(
        fmt::format("Cannot write {}: {}", shown, system_error_text(temporary.error())));
  sync_folder(folder_of(target));
  return {};
}

}  // namespace

std::expected<void, std::string> write_atomically(const std::string& path, const std::string& text,
                                                  unsigned new_mode) {
  const std::string target = final_link_target(path);
  // A config kept private (it may hold API keys) must stay private.
  struct stat existing {};
  const mode_t mode = ::stat(target.c_str(), &existing) == 0
                          ? (existing.st_mode & 07777)
                          : (static_cast<mode_t>(new_mode) & ~current_umask());
  return replace_file(path, target, text, mode);
}

std::expected<void, std::string> replace_private_file(const std::string& path,
                                                      const std::string& text) {
  // rename() replaces the entry at `path` itself, whatever it is: a link
  // planted there is never followed.
  return replace_file(path, path, text, 0600);
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
