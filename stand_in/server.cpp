#include "server.hpp"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <system_error>
#include <thread>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "app_link/protocol.hpp"
#include "common/descriptor.hpp"

namespace stand_in {

namespace {

volatile std::sig_atomic_t g_signalled = 0;
std::atomic<bool> g_quit{false};

void on_signal(int) { g_signalled = 1; }

constexpr std::size_t kMaxRequestBytes = 64 * 1024 * 1024;

std::string read_request(int connection) {
  std::string request;
  char buffer[8192];
  while (request.size() < kMaxRequestBytes) {
    const ssize_t got = ::read(connection, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    request.append(buffer, static_cast<std::size_t>(got));
    if (request.find('\n') != std::string::npos) break;
  }
  if (auto end = request.find('\n'); end != std::string::npos) request.resize(end);
  return request;
}

// A line for the log: long ones cut, so a big reply is one line of a terminal
// or two, not megabytes.
std::string log_text(std::string_view line) {
  while (line.ends_with('\n')) line.remove_suffix(1);
  constexpr std::size_t kShown = 240;
  if (line.size() <= kShown) return std::string(line);
  return fmt::format("{}... ({} bytes)", line.substr(0, kShown), line.size());
}

std::string error_line(const std::string& message) {
  return murmela::to_compact(Json{{"ok", false}, {"error", message}}) + "\n";
}

void answer(App& app, int connection, bool verbose) {
  const std::string request = read_request(connection);
  std::string reply;
  try {
    reply = reply_line(app, request);
  } catch (const std::exception& error) {
    reply = error_line(fmt::format("The stand-in app could not answer: {}", error.what()));
  }
  if (verbose) {
    std::fprintf(stderr, "-> %s\n<- %s\n", log_text(request).c_str(), log_text(reply).c_str());
  }
  // A client that has gone away gets nothing; the app goes on.
  (void)murmela::write_all(connection, reply, {.use_send = true, .send_flags = MSG_NOSIGNAL});
  ::close(connection);
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
  std::signal(SIGINT, on_signal);
  std::signal(SIGTERM, on_signal);
  while (!g_signalled && !g_quit) {
    pollfd ready{listener, POLLIN, 0};
    if (::poll(&ready, 1, 100) <= 0) continue;
    const int connection = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0) continue;
    try {
      std::thread([&app, connection, verbose] { answer(app, connection, verbose); }).detach();
    } catch (const std::system_error&) {
      ::close(connection);  // no thread to be had: this client is turned away, the rest go on
    }
  }
  return 0;
}

}  // namespace stand_in
