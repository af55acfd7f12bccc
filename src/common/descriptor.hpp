#pragma once

#include <expected>
#include <string_view>
#include <utility>

namespace murmela {

// Owns a file descriptor and closes it once.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd = -1) : fd_(fd) {}
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept {
    if (this != &other) {
      close();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() { close(); }

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  void close();

 private:
  int fd_;
};

// How write_all hands bytes to the system: write(), or send() with flags
// (sockets, where a vanished peer must give an error, not a signal).
struct WriteCall {
  bool use_send = false;
  int send_flags = 0;
};

// Writes every byte, resuming after partial writes and interrupted calls.
// The error is an errno value, or 0 when a write accepted nothing.
[[nodiscard]] std::expected<void, int> write_all(int fd, std::string_view bytes,
                                                 WriteCall call = {});

}  // namespace murmela
