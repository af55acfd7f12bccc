#include "common/files.hpp"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/descriptor.hpp"

namespace murmela {

std::expected<std::string, int> read_stream(int fd) {
  std::string contents;
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(errno);
    }
    if (got == 0) return contents;
    contents.append(buffer, static_cast<std::size_t>(got));
  }
}

std::expected<std::string, int> read_file(const std::string& path) {
  FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.get() < 0) return std::unexpected(errno);
  return read_stream(file.get());
}

std::expected<void, int> write_file(const std::string& path, const std::string& bytes) {
  FileDescriptor file(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
  if (file.get() < 0) return std::unexpected(errno);
  if (auto written = write_all(file.get(), bytes); !written)
    return std::unexpected(written.error() ? written.error() : EIO);
  return {};
}

std::expected<void, int> append_whole(const std::string& path, std::string_view bytes) {
  FileDescriptor file(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666));
  if (file.get() < 0) return std::unexpected(errno);
  struct stat before {};
  if (::fstat(file.get(), &before) != 0) return std::unexpected(errno);
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
    return std::unexpected(error);
  }
  if (::fsync(file.get()) != 0) return std::unexpected(errno);
  return {};
}

}  // namespace murmela
