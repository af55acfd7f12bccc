#include "app_link/app_link.hpp"

#include <fmt/format.h>

#include "app_link/exchange.hpp"
#include "app_link/launch.hpp"
#include "common/paths.hpp"
#include "common/platform.hpp"

namespace murmela {

std::string app_data_folder() { return platform::app_data_folder(); }

std::string socket_path() { return join_path(app_data_folder(), "cli.sock"); }

namespace {

CliError exchange_failure(const ExchangeError& error) {
  if (error.unreachable()) {
    return CliError::not_running(fmt::format("Murmela is not running ({}).", error.text));
  }
  return CliError::failed(error.text);
}

}  // namespace

Result<JsonDocument> SocketAppLink::call(std::string_view command, const Json& args, bool detach,
                                         bool no_launch) {
  auto reply = send_request(socket_path(), command, args, detach);
  if (reply) return *std::move(reply);
  if (!reply.error().unreachable() || no_launch) return fail(exchange_failure(reply.error()));
  return launch_and_retry(command, args, detach);
}

Result<JsonDocument> SocketAppLink::call_within(std::string_view command, const Json& args,
                                                std::chrono::milliseconds budget) {
  auto reply =
      send_request(socket_path(), command, args, false, std::chrono::steady_clock::now() + budget);
  if (reply) return *std::move(reply);
  return fail(exchange_failure(reply.error()));
}

}  // namespace murmela
