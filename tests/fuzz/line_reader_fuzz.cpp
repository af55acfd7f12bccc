// libFuzzer target for the line reader of the MCP server's standard input:
// lines of any bytes, arriving in pieces of any size, under any limit. The
// first byte sets the limit, the second how the rest is cut into the pieces
// one read() returns (each piece one packet of a SEQPACKET socket, sent from
// a thread of its own: a read takes at most one packet, so the cuts are the
// same on every run whatever the timing); the reads must be exactly what a
// plain split at the line feeds gives, and any crash, sanitizer report or
// broken promise aborts.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <sys/socket.h>
#include <unistd.h>

#include "common/line_reader.hpp"

using namespace murmela;

namespace {

void check(bool promise) {
  if (!promise) std::abort();
}

struct Expected {
  bool too_long;
  std::string_view text;
};

// The input split at its line feeds, each line with its line feed; a line
// of more than `limit` bytes before it is too long; a last line without a
// line feed is a line too.
std::vector<Expected> lines_of(std::string_view input, std::size_t limit) {
  std::vector<Expected> lines;
  while (!input.empty()) {
    const std::size_t feed = input.find('\n');
    const std::size_t length = feed == std::string_view::npos ? input.size() : feed + 1;
    const std::size_t content = feed == std::string_view::npos ? input.size() : feed;
    lines.push_back({content > limit, input.substr(0, length)});
    input.remove_prefix(length);
  }
  return lines;
}

// Sends the input as packets of sizes drawn from `seed`, then closes.
bool send_in_pieces(int fd, std::string_view input, std::uint8_t seed) {
  std::uint32_t state = seed * 2654435761u + 1;
  while (!input.empty()) {
    state = state * 1103515245u + 12345u;
    const std::size_t size = std::min<std::size_t>(input.size(), 1 + (state >> 16) % 300);
    if (::send(fd, input.data(), size, 0) != static_cast<ssize_t>(size)) return false;
    input.remove_prefix(size);
  }
  return ::close(fd) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::size_t limit = data[0] % 80;
  const std::string_view input(reinterpret_cast<const char*>(data) + 2, size - 2);

  int pair[2];
  check(::socketpair(AF_UNIX, SOCK_SEQPACKET, 0, pair) == 0);
  bool sent = false;
  std::thread sender([&] { sent = send_in_pieces(pair[1], input, data[1]); });

  LineReader reader(pair[0], limit);
  for (const Expected& line : lines_of(input, limit)) {
    const auto read = reader.next();
    if (line.too_long) {
      check(read.outcome == LineReader::Outcome::TooLong);
    } else {
      check(read.outcome == LineReader::Outcome::Line && read.text == line.text);
    }
  }
  check(reader.next().outcome == LineReader::Outcome::End);
  check(reader.next().outcome == LineReader::Outcome::End);
  sender.join();
  check(sent);
  ::close(pair[0]);
  return 0;
}
