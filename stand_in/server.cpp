#include "server.hpp"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <system_error>
#include <thread>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "app_link/protocol.hpp"
#include "common/descriptor.hpp"
#include "common/environment.hpp"

namespace stand_in {

namespace {

volatile std::sig_atomic_t g_signalled = 0;
std::atomic<bool> g_quit{false};

void on_signal(int) { g_signalled = 1; }

constexpr std::size_t kMaxRequestBytes = 64 * 1024 * 1024;

// Connections served at once, well below the descriptors a process may
// hold; past it a client is turned away at once rather than left hanging.
constexpr int kMaxConnections = 128;
// A client has this long to send its request line. The wait for the answer
// has no limit: a blocking transcription may take hours.
constexpr std::chrono::seconds kRequestDeadline{10};

// The deadline in force: MURMELA_STAND_IN_REQUEST_DEADLINE_S (whole seconds,
// 1 to 10) shortens it, so that a test of a late request line does not wait
// out the full ten seconds; anything else keeps the default. Read once.
std::chrono::seconds request_deadline() {
  static const std::chrono::seconds deadline = [] {
    const auto value = murmela::env_value("MURMELA_STAND_IN_REQUEST_DEADLINE_S");
    if (!value) return kRequestDeadline;
    char* end = nullptr;
    const long seconds = std::strtol(value->c_str(), &end, 10);
    if (end == value->c_str() || *end != '\0' || seconds < 1 ||
        seconds > kRequestDeadline.count()) {
      return kRequestDeadline;
    }
    return std::chrono::seconds(seconds);
  }();
  return deadline;
}

std::atomic<int> g_connections{0};

std::string error_line(const std::string& message) {
  return murmela::to_compact(Json{{"ok", false}, {"error", message}}) + "\n";
}

// The request line, or nothing when the deadline passed first (`late`).
std::string read_request(int connection, bool& late) {
  const auto deadline = std::chrono::steady_clock::now() + request_deadline();
  std::string request;
  char buffer[8192];
  while (request.size() < kMaxRequestBytes) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd ready{connection, POLLIN, 0};
    const int polled = left.count() > 0 ? ::poll(&ready, 1, static_cast<int>(left.count())) : 0;
    if (polled < 0 && errno == EINTR) continue;
    if (polled == 0) {
      late = true;
      return {};
    }
    const ssize_t got = ::read(connection, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    request.append(buffer, static_cast<std::size_t>(got));
    if (request.find('\n') != std::string::npos) break;
  }
  if (auto end = request.find('\n'); end != std::string::npos) request.resize(end);
  return request;
}

// Past the limit: the client hears why at once. Its request is taken first
// (a second at most): closed too early, the connection would make the
// client's send fail with a broken pipe, and closed over unread bytes, its
// read fail with a reset, either way before it could read the refusal.
void turn_away(int connection) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  char buffer[8192];
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd ready{connection, POLLIN, 0};
    if (left.count() <= 0 || ::poll(&ready, 1, static_cast<int>(left.count())) <= 0) break;
    const ssize_t got = ::recv(connection, buffer, sizeof buffer, MSG_DONTWAIT);
    if (got <= 0 || std::string_view(buffer, static_cast<std::size_t>(got)).find('\n') !=
                        std::string_view::npos) {
      break;
    }
  }
  // One short line fits the socket's buffer: sent without waiting.
  const std::string busy = error_line(
      fmt::format("Murmela is busy: {} connections are open, the most it serves at once. Try again "
                  "shortly.",
                  kMaxConnections));
  (void)::send(connection, busy.data(), busy.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  ::close(connection);
}

// A line for the log: long ones cut, so a big reply is one line of a terminal
// or two, not megabytes.
std::string log_text(std::string_view line) {
  while (line.ends_with('\n')) line.remove_suffix(1);
  constexpr std::size_t kShown = 240;
  if (line.size() <= kShown) return std::string(line);
  return fmt::format("{}... ({} bytes)", line.substr(0, kShown), line.size());
}

void answer(App& app, int connection, bool verbose) {
  bool late = false;
  const std::string request = read_request(connection, late);
  std::string reply;
  try {
    reply = late ? error_line(fmt::format("The request line did not arrive within {} s.",
                                          request_deadline().count()))
                 : reply_line(app, request);
  } catch (const std::exception& error) {
    reply = error_line(fmt::format("The stand-in app could not answer: {}", error.what()));
  }
  if (verbose) {
    std::fprintf(stderr, "-> %s\n<- %s\n", log_text(request).c_str(), log_text(reply).c_str());
  }
  // A client that has gone away gets nothing; the app goes on.
  (void)murmela::write_all(connection, reply, {.use_send = true, .send_flags = MSG_NOSIGNAL});
  ::close(connection);
  --g_connections;
  if (app.quit_requested()) g_quit = true;
}

}  // namespace

std::string reply_line(App& app, const std::string& request_line) {
  auto request = murmela::parse_json(request_line);
  if (!request || !request->is_object()) return error_line("The request is not a JSON object.");
  const Json version = murmela::member_or_null(*request, "version");
  if (version != murmela::PROTOCOL_VERSION) {
    return error_line(fmt::format("Unsupported protocol version {}; this app speaks {}.",
                                  version.dump(), murmela::PROTOCOL_VERSION));
  }
  const std::string* command = murmela::string_member(*request, "command");
  if (!command) return error_line("The request has no command.");
  const Json args = request->contains("args") ? request->at("args") : Json::object();
  const bool detach = murmela::member_or_null(*request, "detach") == true;

  auto answer = app.handle(*command, args, detach);
  if (!answer) return error_line(answer.error());
  return murmela::to_compact(Json{{"ok", true}, {"result", *answer}}) + "\n";
}

int serve(App& app, int listener, bool verbose) {
  std::signal(SIGPIPE, SIG_IGN);
  // A write past the file-size limit is a failed save, not the app's end.
  std::signal(SIGXFSZ, SIG_IGN);
  std::signal(SIGINT, on_signal);
  std::signal(SIGTERM, on_signal);
  while (!g_signalled && !g_quit) {
    pollfd ready{listener, POLLIN, 0};
    if (::poll(&ready, 1, 100) <= 0) continue;
    const int connection = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0) {
      // Out of descriptors: wait for some to be given back instead of spinning.
      if (errno == EMFILE || errno == ENFILE) ::poll(nullptr, 0, 50);
      continue;
    }
    if (g_connections >= kMaxConnections) {
      turn_away(connection);
      continue;
    }
    ++g_connections;
    try {
      std::thread([&app, connection, verbose] { answer(app, connection, verbose); }).detach();
    } catch (const std::system_error&) {
      ::close(connection);  // no thread to be had: this client is turned away, the rest go on
      --g_connections;
    }
  }
  return 0;
}

}  // namespace stand_in
