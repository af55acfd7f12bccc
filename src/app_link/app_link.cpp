#include "app_link/app_link.hpp"

#include <fmt/format.h>

#include "app_link/exchange.hpp"
#include "app_link/launch.hpp"
#include "common/paths.hpp"
#include "common/platform.hpp"

namespace murmela {

std::string app_data_folder() { return platform::app_data_folder(); }

std::string socket_path() { return join_path(app_data_folder(), "cli.sock"); }

Result<JsonDocument> SocketAppLink::call(std::string_view command, const Json& args, bool detach,
                                         bool no_launch) {
  auto reply = send_request(socket_path(), command, args, detach);
  if (reply) return *std::move(reply);
  if (!reply.error().unreachable()) return fail(CliError::failed(reply.error().text));
  if (no_launch) {
    return fail(
        CliError::not_running(fmt::format("Murmela is not running ({}).", reply.error().text)));
  }
  return launch_and_retry(command, args, detach);
}

}  // namespace murmela
