#include "common/platform.hpp"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#if defined(__APPLE__)
#include <mach-o/dyld.h>
#else
#include <sys/auxv.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#endif

#include "common/environment.hpp"
#include "common/paths.hpp"
#include "common/system_error.hpp"

namespace murmela::platform {

static_assert(max_socket_path_bytes() == sizeof(sockaddr_un::sun_path) - 1);

// The rules of each system, whichever this program runs on.

std::string app_data_folder(Os os, const std::optional<std::string>& home,
                            const std::optional<std::string>& xdg_data_home) {
  if (os == Os::MacOs) {
    return join_path(join_path(home.value_or(""), "Library/Application Support"), "Murmela");
  }
  if (xdg_data_home && xdg_data_home->starts_with('/')) return join_path(*xdg_data_home, "Murmela");
  return join_path(join_path(home.value_or(""), ".local/share"), "Murmela");
}

// The macOS products keep their folders where they always have, whatever
// XDG_CONFIG_HOME says.
std::string config_folder(Os os, const std::string& home,
                          const std::optional<std::string>& xdg_config_home) {
  if (os == Os::Linux && xdg_config_home) return *xdg_config_home;
  return join_path(home, ".config");
}

std::string claude_desktop_folder(Os os, const std::string& home,
                                  const std::string& config_folder) {
  if (os == Os::MacOs) return join_path(home, "Library/Application Support/Claude");
  return join_path(config_folder, "Claude");
}

// The rules of this one.

std::string app_data_folder() {
  return app_data_folder(kThisOs, env_value("HOME"), env_value("XDG_DATA_HOME"));
}

std::string config_folder(const std::string& home,
                          const std::optional<std::string>& xdg_config_home) {
  return config_folder(kThisOs, home, xdg_config_home);
}

std::string claude_desktop_folder(const std::string& home, const std::string& config_folder) {
  return platform::claude_desktop_folder(kThisOs, home, config_folder);
}

// Its system calls.

#if defined(__APPLE__)

std::expected<std::string, std::string> executable_path() {
  uint32_t size = 0;
  _NSGetExecutablePath(nullptr, &size);
  std::string path(size, '\0');
  if (_NSGetExecutablePath(path.data(), &size) != 0) {
    return std::unexpected(system_error_text(ENAMETOOLONG));
  }
  path.resize(std::char_traits<char>::length(path.c_str()));
  return path;
}

int open_stream_socket() {
  int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  if (fd < 0) return -errno;
  int on = 1;
  if (::fcntl(fd, F_SETFD, FD_CLOEXEC) != 0 ||
      ::setsockopt(fd, SOL_SOCKET, SO_NOSIGPIPE, &on, sizeof on) != 0) {
    int error = errno;
    ::close(fd);
    return -error;
  }
  return fd;
}

int send_flags() { return 0; }

void prefer_huge_pages(const void*, std::size_t) {}

int open_exit_watch(int) { return -1; }

void return_free_memory() {}

int make_pipe(int fds[2]) {
  if (::pipe(fds) != 0) return errno;
  for (int i = 0; i < 2; ++i) ::fcntl(fds[i], F_SETFD, FD_CLOEXEC);
  return 0;
}

// Some file systems (network ones among them) refuse F_FULLFSYNC; fsync is
// the most they offer.
int sync_to_disk(int fd) {
  if (::fcntl(fd, F_FULLFSYNC) == 0) return 0;
  return ::fsync(fd) == 0 ? 0 : errno;
}

#else

// glibc keeps freed heap memory, above all below its top, for later
// allocations: after a job of hundreds of megabytes it would stay with the
// process.
void return_free_memory() {
#if defined(__GLIBC__)
  ::malloc_trim(0);
#endif
}

// The name the program was started by (not /proc/self/exe, which resolves
// links: run through ~/.local/bin/murmela-cli, that link is the path we want).
std::expected<std::string, std::string> executable_path() {
  const char* started_as = reinterpret_cast<const char*>(::getauxval(AT_EXECFN));
  if (started_as == nullptr || *started_as == '\0') {
    return std::unexpected(system_error_text(ENOENT));
  }
  std::string path = started_as;
  if (path.front() == '/') return path;
  auto cwd = current_directory();
  if (!cwd) return std::unexpected(cwd.error().text());
  return join_path(*cwd, path);
}

int open_stream_socket() {
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  return fd < 0 ? -errno : fd;
}

int send_flags() { return MSG_NOSIGNAL; }

int make_pipe(int fds[2]) { return ::pipe2(fds, O_CLOEXEC) == 0 ? 0 : errno; }

int open_exit_watch(int pid) {
  const long fd = ::syscall(SYS_pidfd_open, pid, 0);
  return fd < 0 ? -1 : static_cast<int>(fd);
}

void prefer_huge_pages(const void* data, std::size_t bytes) {
  constexpr std::uintptr_t kHugePage = 2 * 1024 * 1024;
  constexpr std::uintptr_t kOrdinaryPart = 256 * 1024;
  const auto start =
      (reinterpret_cast<std::uintptr_t>(data) + kOrdinaryPart + kHugePage - 1) & ~(kHugePage - 1);
  const auto end = (reinterpret_cast<std::uintptr_t>(data) + bytes) & ~(kHugePage - 1);
  if (end > start) ::madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
}

int sync_to_disk(int fd) { return ::fsync(fd) == 0 ? 0 : errno; }

#endif

}  // namespace murmela::platform
