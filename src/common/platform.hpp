#pragma once

// Everything that differs between macOS and Linux lives behind these
// declarations (and in platform.cpp).

#include <cstddef>
#include <expected>
#include <string>

namespace murmela::platform {

// The path of the running executable as the system reports it, symbolic links
// not resolved. The error is the system error text.
[[nodiscard]] std::expected<std::string, std::string> executable_path();

// The per-user folder the app keeps its data in, from the environment.
std::string app_data_folder();

// The longest socket path that fits `sun_path` with its terminating NUL.
std::size_t max_socket_path_bytes();

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
// pages: a 32 MiB reply otherwise costs thousands of page faults. The first
// megabytes keep ordinary pages, so that a small fill costs no extra memory.
// Does nothing where the system has no such hint.
void prefer_huge_pages(const void* data, std::size_t bytes);

}  // namespace murmela::platform
