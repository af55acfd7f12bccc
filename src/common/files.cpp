#include "common/files.hpp"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/descriptor.hpp"
#include "common/paths.hpp"
#include "common/platform.hpp"
#include "common/try.hpp"

namespace murmela {

std::expected<std::string, SystemError> read_stream(int fd) {
  std::string contents;
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      return system_failure(errno);
    }
    if (got == 0) return contents;
    contents.append(buffer, static_cast<std::size_t>(got));
  }
}

std::expected<std::string, SystemError> read_file(const std::string& path) {
  FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.get() < 0) return system_failure(errno);
  return read_stream(file.get());
}

std::expected<void, SystemError> write_file(const std::string& path, const std::string& bytes) {
  FileDescriptor file(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
  if (file.get() < 0) return system_failure(errno);
  if (auto written = write_all(file.get(), bytes); !written)
    return system_failure(written.error() ? written.error() : EIO);
  return {};
}

std::expected<void, SystemError> append_whole(const std::string& path, std::string_view bytes) {
  FileDescriptor file(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666));
  if (file.get() < 0) return system_failure(errno);
  struct stat before {};
  if (::fstat(file.get(), &before) != 0) return system_failure(errno);
  ssize_t wrote;
  do {
    wrote = ::write(file.get(), bytes.data(), bytes.size());
  } while (wrote < 0 && errno == EINTR);
  if (wrote != static_cast<ssize_t>(bytes.size())) {
    const int error = wrote < 0 ? errno : ENOSPC;
    // Taking a partial line back is best effort: the write's error is what
    // the caller must hear.
    if (wrote > 0) {
      [[maybe_unused]] const int ignored = ::ftruncate(file.get(), before.st_size);
    }
    return system_failure(error);
  }
  if (const int error = platform::sync_to_disk(file.get()); error != 0)
    return system_failure(error);
  return {};
}

bool is_own_file(const struct stat& info) {
  return S_ISREG(info.st_mode) && info.st_uid == ::geteuid() && info.st_nlink == 1;
}

namespace {

// O_NOFOLLOW: a symbolic link fails to open instead of being followed;
// O_NONBLOCK: a planted FIFO cannot hold the run up.
constexpr int kOwnFileFlags = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;

std::expected<FileDescriptor, SystemError> checked_own(FileDescriptor file) {
  if (!file.valid()) return system_failure(errno);
  struct stat info {};
  if (::fstat(file.get(), &info) != 0) return system_failure(errno);
  if (!is_own_file(info)) return system_failure(EPERM);
  return file;
}

}  // namespace

std::expected<std::string, SystemError> read_own_file(const std::string& path) {
  TRY_ASSIGN(auto file,
             checked_own(FileDescriptor(::open(path.c_str(), O_RDONLY | kOwnFileFlags))));
  return read_stream(file.get());
}

std::expected<FileDescriptor, SystemError> open_own_file(const std::string& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) == 0 && !is_own_file(info) && ::unlink(path.c_str()) != 0)
    return system_failure(errno);
  TRY_ASSIGN(
      auto file,
      checked_own(FileDescriptor(::open(path.c_str(), O_RDONLY | O_CREAT | kOwnFileFlags, 0600))));
  if (::fstat(file.get(), &info) != 0) return system_failure(errno);
  if ((info.st_mode & 07777) != 0600 && ::fchmod(file.get(), 0600) != 0)
    return system_failure(errno);
  return file;
}

std::expected<void, SystemError> make_private_folders(const std::string& path) {
  if (is_directory(path)) return {};
  if (auto parent = parent_folder(path); parent && !parent->empty()) {
    TRY(make_private_folders(*parent));
  }
  // mkdir's mode passes through the umask, and a chmod after it would act on
  // whatever sits at the path by then: the umask is set for the one call
  // instead (the callers run no other thread while they make folders).
  const mode_t umask_before = ::umask(077);
  const int made = ::mkdir(path.c_str(), 0700);
  const int error = errno;
  ::umask(umask_before);
  if (made != 0 && !(error == EEXIST && is_directory(path))) return system_failure(error);
  return {};
}

}  // namespace murmela
