#pragma once

#include <string_view>

#include "common/cli_error.hpp"
#include "common/json.hpp"

namespace murmela {

// Starts the app found beside the CLI, waits until it answers a ping, and
// sends the request again.
[[nodiscard]] Result<JsonDocument> launch_and_retry(std::string_view command, const Json& args,
                                                    bool detach);

}  // namespace murmela
