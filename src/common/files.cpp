#include "common/files.hpp"

#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

namespace murmela {

namespace {

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

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
  Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.get() < 0) return std::unexpected(errno);
  return read_stream(file.get());
}

std::expected<void, int> write_file(const std::string& path, const std::string& bytes) {
  Descriptor file(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
  if (file.get() < 0) return std::unexpected(errno);
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t wrote = ::write(file.get(), bytes.data() + done, bytes.size() - done);
    if (wrote < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(errno);
    }
    done += static_cast<std::size_t>(wrote);
  }
  return {};
}

}  // namespace murmela
