#include "fake_app.hpp"

#include <cstring>
#include <filesystem>
#include <stdexcept>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

namespace testing_support {

namespace {

int listen_at(const std::string& socket_path) {
  std::filesystem::create_directories(std::filesystem::path(socket_path).parent_path());
  ::unlink(socket_path.c_str());
  const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, socket_path.c_str(), sizeof address.sun_path - 1);
  if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener, 16) != 0) {
    throw std::runtime_error("fake app cannot listen on " + socket_path);
  }
  return listener;
}

}  // namespace

FakeApp::FakeApp(std::string socket_path)
    : socket_path_(std::move(socket_path)), listener_(listen_at(socket_path_)) {
  thread_ = std::thread([this] { serve(); });
}

SilentListener::SilentListener(std::string socket_path)
    : socket_path_(std::move(socket_path)), listener_(listen_at(socket_path_)) {}

SilentListener::~SilentListener() {
  ::close(listener_);
  ::unlink(socket_path_.c_str());
}

FakeApp::~FakeApp() {
  stopping_ = true;
  thread_.join();
  ::close(listener_);
  ::unlink(socket_path_.c_str());
}

void FakeApp::on(const std::string& command, FakeReply reply) {
  std::lock_guard lock(mutex_);
  replies_[command].push_back(std::move(reply));
}

std::vector<std::string> FakeApp::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

std::vector<std::string> FakeApp::commands() const {
  std::vector<std::string> names;
  for (const auto& line : requests()) {
    auto request = nlohmann::json::parse(line, nullptr, false);
    names.push_back(request.is_object() && request.contains("command")
                        ? request["command"].get<std::string>()
                        : std::string("?"));
  }
  return names;
}

void FakeApp::serve() {
  while (!stopping_) {
    pollfd ready{listener_, POLLIN, 0};
    if (::poll(&ready, 1, 20) <= 0) continue;
    const int connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0) continue;
    answer(connection);
    ::close(connection);
  }
}

void FakeApp::answer(int connection) {
  std::string request;
  char buffer[4096];
  while (request.find('\n') == std::string::npos) {
    const ssize_t got = ::read(connection, buffer, sizeof buffer);
    if (got <= 0) break;
    request.append(buffer, static_cast<std::size_t>(got));
  }
  {
    std::lock_guard lock(mutex_);
    requests_.push_back(request);
  }
  const FakeReply reply = reply_for(request);
  if (reply.hang_up) return;
  for (std::size_t i = 0; i < reply.chunks.size(); ++i) {
    if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(30));
    const auto& chunk = reply.chunks[i];
    if (::send(connection, chunk.data(), chunk.size(), MSG_NOSIGNAL) < 0) return;
  }
}

FakeReply FakeApp::reply_for(const std::string& request) {
  auto parsed = nlohmann::json::parse(request, nullptr, false);
  const std::string command =
      parsed.is_object() && parsed.contains("command") ? parsed["command"].get<std::string>() : "";
  std::lock_guard lock(mutex_);
  auto found = replies_.find(command);
  if (found == replies_.end() || found->second.empty()) return FakeReply::ok("null");
  FakeReply reply = found->second.front();
  if (found->second.size() > 1) found->second.pop_front();
  return reply;
}

}  // namespace testing_support
