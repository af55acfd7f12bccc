#pragma once

#include <expected>
#include <string>
#include <string_view>

#include <sys/types.h>

#include "common/system_error.hpp"

namespace murmela {

// The file system calls behind a whole-file replacement, the lock that keeps
// two writers apart, and every other read and change the agent targets make
// (their files, the user's profile, the link on PATH). The real one makes
// the system calls; a test puts its own in between to see the order of the
// steps, to make one fail, or to find a lock held. Every failure is an errno.
class Disk {
 public:
  virtual ~Disk() = default;

  // mkostemp: creates the file `name` (ending in "XXXXXX", filled in)
  // exclusively with mode 0600, never through a link; its descriptor.
  virtual std::expected<int, SystemError> create_temporary(std::string& name) = 0;
  // Writes every byte of `text`.
  virtual std::expected<void, SystemError> write(int fd, std::string_view text) = 0;
  virtual std::expected<void, SystemError> change_mode(int fd, mode_t mode) = 0;
  virtual std::expected<void, SystemError> sync(int fd) = 0;
  virtual std::expected<void, SystemError> close(int fd) = 0;
  virtual std::expected<void, SystemError> rename(const std::string& from, const std::string& to) = 0;
  virtual void remove(const std::string& path) = 0;
  // Makes a rename in `folder` last; best effort.
  virtual void sync_folder(const std::string& folder) = 0;

  // The whole contents of a file, read through links.
  virtual std::expected<std::string, SystemError> read(const std::string& path) = 0;
  // Appends `bytes` to `path` (created when missing) in one write; one that
  // does not go through whole is taken back, so the file stays as it was.
  virtual std::expected<void, SystemError> append(const std::string& path, std::string_view bytes) = 0;
  // A symbolic link's stored target; EINVAL when `path` is not a link.
  virtual std::expected<std::string, SystemError> read_link(const std::string& path) = 0;
  virtual std::expected<void, SystemError> make_link(const std::string& target,
                                             const std::string& link) = 0;
  // Removes the entry at `path` (a link itself, never what it leads to).
  virtual std::expected<void, SystemError> unlink(const std::string& path) = 0;
  // Creates `path` and its missing parents, each new folder private (0700).
  virtual std::expected<void, SystemError> make_folders(const std::string& path) = 0;

  // Takes the exclusive lock of an open file, waiting while another process
  // (or another descriptor) holds it; `unlock` gives it back.
  virtual std::expected<void, SystemError> lock(int fd) = 0;
  virtual void unlock(int fd) = 0;
};

// The system's own.
Disk& real_disk();

}  // namespace murmela
