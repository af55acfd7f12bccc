#include "open_file.hpp"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace stand_in {

namespace {

std::expected<murmela::FileDescriptor, OpenFailure> checked(int fd, int open_error) {
  if (fd < 0) {
    // A FIFO or socket with nobody at the other end, a folder opened to
    // write: the path is there, but it is no regular file.
    if (open_error == ENXIO || open_error == EISDIR)
      return std::unexpected(OpenFailure{OpenFailure::Kind::NotRegular, open_error});
    if (open_error == ENOENT) return std::unexpected(OpenFailure{OpenFailure::Kind::Missing, ENOENT});
    return std::unexpected(OpenFailure{OpenFailure::Kind::System, open_error});
  }
  murmela::FileDescriptor file(fd);
  struct stat info {};
  if (::fstat(file.get(), &info) != 0)
    return std::unexpected(OpenFailure{OpenFailure::Kind::System, errno});
  if (!S_ISREG(info.st_mode)) return std::unexpected(OpenFailure{OpenFailure::Kind::NotRegular, 0});
  // Reads and writes of a regular file block as usual from here on.
  const int flags = ::fcntl(file.get(), F_GETFL);
  if (flags < 0 || ::fcntl(file.get(), F_SETFL, flags & ~O_NONBLOCK) != 0)
    return std::unexpected(OpenFailure{OpenFailure::Kind::System, errno});
  return file;
}

}  // namespace

std::expected<murmela::FileDescriptor, OpenFailure> open_to_read(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  return checked(fd, errno);
}

}  // namespace stand_in
