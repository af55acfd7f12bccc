#pragma once

#include <deque>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "app_link/app_link.hpp"

namespace testing_support {

// Command logic without a socket: every call is recorded, and each command
// answers with its queued results in order (the last one repeats), or null.
class FakeAppLink final : public murmela::AppLink {
 public:
  struct Call {
    std::string command;
    murmela::Json args;
    bool detach;
    bool no_launch;
  };

  void on(const std::string& command, murmela::Result<murmela::Json> answer) {
    answers_[command].push_back(std::move(answer));
  }

  murmela::Result<murmela::JsonDocument> call(std::string_view command, const murmela::Json& args,
                                              bool detach, bool no_launch) override {
    calls.push_back({std::string(command), args, detach, no_launch});
    auto found = answers_.find(std::string(command));
    if (found == answers_.end() || found->second.empty()) return murmela::to_document(nullptr);
    auto answer = found->second.front();
    if (found->second.size() > 1) found->second.pop_front();
    if (!answer) return murmela::fail(answer.error());
    return murmela::to_document(*answer);
  }

  std::vector<Call> calls;

 private:
  std::map<std::string, std::deque<murmela::Result<murmela::Json>>> answers_;
};

}  // namespace testing_support

namespace murmela {
inline void PrintTo(const CliError& error, std::ostream* os) {
  *os << "CliError(" << static_cast<int>(error.exit_class) << ", \"" << error.message << "\")";
}
}  // namespace murmela
