#pragma once

#include <atomic>
#include <chrono>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testing_support {

// What the fake app does with one connection after reading the request.
struct FakeReply {
  std::vector<std::string> chunks;  // written one after another, with a pause between
  bool hang_up = false;             // close without writing anything

  static FakeReply ok(const std::string& result_json) {
    return {{R"({"ok":true,"result":)" + result_json + "}\n"}, false};
  }
  static FakeReply error(const std::string& message_json) {
    return {{R"({"ok":false,"error":)" + message_json + "}\n"}, false};
  }
  static FakeReply raw(std::string bytes) { return {{std::move(bytes)}, false}; }
  static FakeReply split(std::vector<std::string> chunks) { return {std::move(chunks), false}; }
  static FakeReply close() { return {{}, true}; }
};

// A scripted app on a real Unix socket: it records every request line byte for
// byte and answers each command with the replies given for it, in order (the
// last one repeats). Commands without replies get {"ok":true,"result":null}.
class FakeApp {
 public:
  explicit FakeApp(std::string socket_path);
  ~FakeApp();
  FakeApp(const FakeApp&) = delete;
  FakeApp& operator=(const FakeApp&) = delete;

  void on(const std::string& command, FakeReply reply);
  void on_ok(const std::string& command, const std::string& result_json) {
    on(command, FakeReply::ok(result_json));
  }

  std::vector<std::string> requests() const;  // whole lines, line feed included
  std::vector<std::string> commands() const;  // the "command" of each request

 private:
  void serve();
  void answer(int connection);
  FakeReply reply_for(const std::string& request);

  std::string socket_path_;
  int listener_ = -1;
  std::atomic<bool> stopping_{false};
  mutable std::mutex mutex_;
  std::map<std::string, std::deque<FakeReply>> replies_;
  std::vector<std::string> requests_;
  std::thread thread_;
};

// An app that is there but never answers: the system takes each connection
// into the listener's queue, and nothing ever reads the request or replies.
class SilentListener {
 public:
  explicit SilentListener(std::string socket_path);
  ~SilentListener();
  SilentListener(const SilentListener&) = delete;
  SilentListener& operator=(const SilentListener&) = delete;

 private:
  std::string socket_path_;
  int listener_;
};

}  // namespace testing_support
