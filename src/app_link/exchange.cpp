#include "app_link/exchange.hpp"

#include <cerrno>
#include <cstring>

#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <fmt/format.h>

#include "app_link/protocol.hpp"
#include "common/descriptor.hpp"
#include "common/json_document.hpp"
#include "common/platform.hpp"
#include "common/system_error.hpp"

namespace murmela {

namespace {

using Outcome = std::expected<JsonDocument, ExchangeError>;

std::unexpected<ExchangeError> unreachable(std::string text) {
  return std::unexpected(ExchangeError{ExchangeError::Kind::Unreachable, std::move(text)});
}

std::unexpected<ExchangeError> failed(std::string message) {
  return std::unexpected(ExchangeError{ExchangeError::Kind::Failed, std::move(message)});
}

constexpr std::string_view kTimedOutText = "the time allowed ran out";

// Bounds the socket's next blocking calls by what is left until the
// deadline; false once it has passed.
bool limit_to(const FileDescriptor& socket, const std::optional<Deadline>& deadline) {
  if (!deadline) return true;
  const auto left = std::chrono::duration_cast<std::chrono::microseconds>(
      *deadline - std::chrono::steady_clock::now());
  if (left.count() <= 0) return false;
  timeval limit{};
  limit.tv_sec = static_cast<time_t>(left.count() / 1'000'000);
  limit.tv_usec = static_cast<suseconds_t>(left.count() % 1'000'000);
  return ::setsockopt(socket.get(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) == 0 &&
         ::setsockopt(socket.get(), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit) == 0;
}

// A blocking call that gave up because its time limit passed.
bool timed_out(int error) { return error == EAGAIN || error == EWOULDBLOCK; }

std::expected<void, std::string> connect_to(const FileDescriptor& socket, const std::string& path) {
  if (path.find('\0') != std::string::npos) return std::unexpected(kInteriorNulText);
  if (path.size() > platform::max_socket_path_bytes()) {
    return std::unexpected("path must be shorter than SUN_LEN");
  }
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.data(), path.size());
  const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() + 1);
  if (::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), length) != 0) {
    return std::unexpected(system_error_text(errno));
  }
  return {};
}

std::expected<void, std::string> send_all(const FileDescriptor& socket, std::string_view bytes) {
  auto sent =
      write_all(socket.get(), bytes, {.use_send = true, .send_flags = platform::send_flags()});
  if (!sent)
    return std::unexpected(sent.error() == 0 ? std::string(kWriteZeroText)
                                             : system_error_text(sent.error()));
  return {};
}

// The line's first reservation. The whole limit is address space only: pages
// are taken as bytes arrive, and the line never moves while it grows. Under
// AddressSanitizer a block's every byte is marked in shadow memory when it is
// freed, so that reservation would cost each request a 4 MiB write and a
// thousand page faults; there the line starts small and moves as it grows.
#if defined(__SANITIZE_ADDRESS__)
constexpr std::size_t kReservedReplyBytes = 64 * 1024;
#else
constexpr std::size_t kReservedReplyBytes = kMaxReplyBytes;
#endif

// Up to and including the first line feed, or to end of stream; at most
// kMaxReplyBytes are taken from the socket. The bytes go straight into the
// line, in reads that grow with it, since replies can be megabytes long.
std::expected<std::string, std::string> read_line(const FileDescriptor& socket,
                                                  const std::optional<Deadline>& deadline) {
  constexpr std::size_t kFirstReadBytes = 8192;
  std::string line;
  line.reserve(kReservedReplyBytes);
  platform::prefer_huge_pages(line.data(), line.capacity());
  while (line.size() < kMaxReplyBytes) {
    if (!limit_to(socket, deadline)) return std::unexpected(std::string(kTimedOutText));
    const std::size_t old_size = line.size();
    const std::size_t room =
        std::min(std::max(old_size, kFirstReadBytes), kMaxReplyBytes - old_size);
    ssize_t got = 0;
    int error = 0;
    line.resize_and_overwrite(old_size + room, [&](char* data, std::size_t) {
      got = ::read(socket.get(), data + old_size, room);
      error = errno;
      return old_size + static_cast<std::size_t>(std::max<ssize_t>(got, 0));
    });
    if (got < 0) {
      if (error == EINTR) continue;
      if (deadline && timed_out(error)) return std::unexpected(std::string(kTimedOutText));
      return std::unexpected(system_error_text(error));
    }
    if (got == 0) break;
    if (auto end = line.find('\n', old_size); end != std::string::npos) {
      line.resize(end + 1);
      break;
    }
  }
  // Whether the line is UTF-8 is left to the reader, which checks that
  // before anything else (see interpret).
  return line;
}

bool is_blank(std::string_view text) {
  return text.find_first_not_of(" \t\r\n\f\v") == std::string_view::npos;
}

Outcome interpret(std::string line) {
  if (is_blank(line)) return failed("Murmela closed the connection without replying.");
  // read_line stops at the cap as at the end of the stream, so a reply cut
  // there fails to parse: say why, not where the cut text stopped parsing.
  const bool cut = line.size() == kMaxReplyBytes && !line.ends_with('\n');
  auto reply = parse_reply(std::move(line));
  if (!reply && cut) {
    return failed(
        fmt::format("Murmela sent an unreadable reply: it is larger than the {} MiB that "
                    "murmela-cli reads.",
                    kMaxReplyBytes / (1024 * 1024)));
  }
  // A reply that is not UTF-8 is a broken stream rather than bad JSON, and
  // says so whatever else is wrong with it.
  if (!reply && reply.error().starts_with(kInvalidUtf8Fault))
    return failed(fmt::format("Murmela closed the connection: {}", kInvalidUtf8Text));
  if (!reply) return failed(fmt::format("Murmela sent an unreadable reply: {}", reply.error()));
  if (reply->ok) return std::move(reply->result);
  if (reply->has_error) return failed(reply->error);
  return failed("Murmela reported an unknown error.");
}

}  // namespace

Outcome send_request(const std::string& path, std::string_view command, const Json& args,
                     bool detach, std::optional<Deadline> deadline) {
  const int fd = platform::open_stream_socket();
  if (fd < 0) return unreachable(system_error_text(-fd));
  FileDescriptor socket(fd);
  // A listener whose queue is full keeps a connect waiting: that counts too.
  if (!limit_to(socket, deadline)) return failed("Murmela did not reply in time.");
  if (auto connected = connect_to(socket, path); !connected) return unreachable(connected.error());

  if (!limit_to(socket, deadline)) return failed("Murmela did not reply in time.");
  if (auto sent = send_all(socket, serialize_request(command, args, detach)); !sent) {
    return failed(fmt::format("Cannot send the request to Murmela: {}", sent.error()));
  }
  auto line = read_line(socket, deadline);
  socket.close();
  if (!line && line.error() == kTimedOutText) return failed("Murmela did not reply in time.");
  if (!line) return failed(fmt::format("Murmela closed the connection: {}", line.error()));
  return interpret(*std::move(line));
}

}  // namespace murmela
