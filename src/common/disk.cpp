#include "common/disk.hpp"

#include <cerrno>
#include <cstdlib>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/descriptor.hpp"
#include "common/files.hpp"
#include "common/platform.hpp"

namespace murmela {

namespace {

std::expected<void, SystemError> checked(int result) {
  if (result == 0) return {};
  return system_failure(errno);
}

class RealDisk final : public Disk {
 public:
  std::expected<int, SystemError> create_temporary(std::string& name) override {
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) return system_failure(errno);
    return fd;
  }

  std::expected<void, SystemError> write(int fd, std::string_view text) override {
    auto done = write_all(fd, text);
    if (done) return {};
    // write_all reports a write that made no progress as 0.
    return system_failure(done.error() == 0 ? EIO : done.error());
  }

  std::expected<void, SystemError> change_mode(int fd, mode_t mode) override {
    return checked(::fchmod(fd, mode));
  }
  std::expected<void, SystemError> sync(int fd) override {
    if (const int error = platform::sync_to_disk(fd); error != 0) return system_failure(error);
    return {};
  }
  std::expected<void, SystemError> close(int fd) override { return checked(::close(fd)); }
  std::expected<void, SystemError> rename(const std::string& from, const std::string& to) override {
    return checked(::rename(from.c_str(), to.c_str()));
  }
  void remove(const std::string& path) override { ::unlink(path.c_str()); }

  void sync_folder(const std::string& folder) override {
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return;
    platform::sync_to_disk(dir);
    ::close(dir);
  }

  std::expected<std::string, SystemError> read(const std::string& path) override { return read_file(path); }
  std::expected<void, SystemError> append(const std::string& path, std::string_view bytes) override {
    return append_whole(path, bytes);
  }

  std::expected<std::string, SystemError> read_link(const std::string& path) override {
    std::string target(256, '\0');
    for (;;) {
      const ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
      if (length < 0) return system_failure(errno);
      if (static_cast<std::size_t>(length) < target.size()) {
        target.resize(static_cast<std::size_t>(length));
        return target;
      }
      target.resize(target.size() * 2);
    }
  }
  std::expected<void, SystemError> make_link(const std::string& target, const std::string& link) override {
    return checked(::symlink(target.c_str(), link.c_str()));
  }
  std::expected<void, SystemError> unlink(const std::string& path) override {
    return checked(::unlink(path.c_str()));
  }
  std::expected<void, SystemError> make_folders(const std::string& path) override {
    return make_private_folders(path);
  }

  std::expected<void, SystemError> lock(int fd) override {
    int locked;
    while ((locked = ::flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
    }
    return checked(locked);
  }
  void unlock(int fd) override { ::flock(fd, LOCK_UN); }
};

}  // namespace

Disk& real_disk() {
  static RealDisk disk;
  return disk;
}

}  // namespace murmela
