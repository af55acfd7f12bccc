#include "common/descriptor.hpp"

#include <cerrno>

#include <sys/socket.h>
#include <unistd.h>

namespace murmela {

void FileDescriptor::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

std::expected<void, int> write_all(int fd, std::string_view bytes, WriteCall call) {
  while (!bytes.empty()) {
    const ssize_t wrote = call.use_send ? ::send(fd, bytes.data(), bytes.size(), call.send_flags)
                                        : ::write(fd, bytes.data(), bytes.size());
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote < 0) return std::unexpected(errno);
    if (wrote == 0) return std::unexpected(0);
    bytes.remove_prefix(static_cast<std::size_t>(wrote));
  }
  return {};
}

}  // namespace murmela
