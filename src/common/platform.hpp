#pragma once

// Everything that differs between macOS and Linux lives behind these
// declarations (and in platform.cpp).

#include <cstddef>
#include <expected>
#include <optional>
#include <string>

namespace murmela::platform {

// The path of the running executable as the system reports it, symbolic links
// not resolved. The error is the system error text.
[[nodiscard]] std::expected<std::string, std::string> executable_path();

// The systems whose rules differ below, and the one this program is built
// for. The path rules take the system as a parameter, so that each system's
// rules can be checked on any.
enum class Os { MacOs, Linux };
#if defined(__APPLE__)
inline constexpr Os kThisOs = Os::MacOs;
#else
inline constexpr Os kThisOs = Os::Linux;
#endif

// The per-user folder the app keeps its data in, from the environment.
std::string app_data_folder();
// The same from the values of HOME and XDG_DATA_HOME on `os`.
std::string app_data_folder(Os os, const std::optional<std::string>& home,
                            const std::optional<std::string>& xdg_data_home);

// The folder that per-user configuration folders go in, for the products
// that follow the XDG rules where the system does: `xdg_config_home` (the
// variable's value, when it is an absolute path) or else `home`/.config.
// On macOS those products keep `home`/.config whatever the variable says.
std::string config_folder(const std::string& home,
                          const std::optional<std::string>& xdg_config_home);
std::string config_folder(Os os, const std::string& home,
                          const std::optional<std::string>& xdg_config_home);

// The folder Claude Desktop keeps claude_desktop_config.json in.
std::string claude_desktop_folder(const std::string& home, const std::string& config_folder);
std::string claude_desktop_folder(Os os, const std::string& home, const std::string& config_folder);

// The longest socket path that fits `sun_path` with its terminating NUL:
// 103 bytes on macOS (104-byte sun_path), 107 on Linux (108).
constexpr std::size_t max_socket_path_bytes(Os os) { return os == Os::MacOs ? 103 : 107; }
constexpr std::size_t max_socket_path_bytes() { return max_socket_path_bytes(kThisOs); }

// A Unix stream socket, close-on-exec, whose writes to a vanished peer fail
// instead of raising SIGPIPE. Returns the descriptor or -errno.
int open_stream_socket();

// Flags for send() on sockets made by open_stream_socket().
int send_flags();

// A pipe whose both ends are close-on-exec. Returns 0 or an errno value.
int make_pipe(int fds[2]);

// A descriptor that becomes readable when the child `pid` ends, for poll();
// -1 where the system has none (callers then poll on a short timer).
int open_exit_watch(int pid);

// A hint that a large buffer about to be filled should be backed by huge
// pages: a 32 MiB reply otherwise costs thousands of page faults, and where
// page tables are costly to change (some virtual machines) that is most of
// its time. At least the first 256 KiB (up to the next 2 MiB boundary) keep
// ordinary pages, so that a small fill costs no extra memory.
// Does nothing where the system has no such hint.
void prefer_huge_pages(const void* data, std::size_t bytes);

// Makes what was written to `fd` last through a power cut, as far as the
// system can tell (macOS's fsync leaves it in the drive's cache; F_FULLFSYNC
// does not). Returns 0 or an errno value.
int sync_to_disk(int fd);

// Hands memory freed by a finished job back to the system, where the
// allocator keeps freed memory for itself; does nothing elsewhere.
void return_free_memory();

}  // namespace murmela::platform
