#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "common/cli_error.hpp"
#include "common/json.hpp"

namespace murmela {

// The app's data folder, built from the environment at each call.
std::string app_data_folder();

// The app's socket, `cli.sock` in the data folder.
std::string socket_path();

// The one way command logic reaches the app: send `command` with `args` and
// the detach marker, get the app's result. Unless `no_launch`, an app that is
// not running is started first.
class AppLink {
 public:
  virtual ~AppLink() = default;
  [[nodiscard]] virtual Result<JsonDocument> call(std::string_view command, const Json& args,
                                                  bool detach, bool no_launch) = 0;

  // A question that must not hold its asker up (a shell completing a word):
  // the app is never started, and the answer comes within `budget` or not at
  // all. Links without a clock answer as `call` does.
  [[nodiscard]] virtual Result<JsonDocument> call_within(std::string_view command, const Json& args,
                                                         std::chrono::milliseconds) {
    return call(command, args, false, true);
  }
};

// The real link: the Unix socket in the app's data folder, starting the app
// beside the CLI when the socket cannot be reached.
class SocketAppLink final : public AppLink {
 public:
  Result<JsonDocument> call(std::string_view command, const Json& args, bool detach,
                            bool no_launch) override;
  Result<JsonDocument> call_within(std::string_view command, const Json& args,
                                   std::chrono::milliseconds budget) override;
};

}  // namespace murmela
