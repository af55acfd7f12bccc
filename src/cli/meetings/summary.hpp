#pragma once

#include <string_view>

#include "cli/context.hpp"

namespace murmela {

// The short form of a meeting record that commands print: 15 members, the
// transcript and notes stood in for by their lengths in code points.
Json summarize_meeting(const Json& record);

// The app's answer printed as a summary when it is a meeting record (an
// object with a `transcript` key), as it came otherwise. While the app holds
// the answer to a job command until the job is done, a terminal shows the
// progress line.
[[nodiscard]] Done call_and_print_meeting(const Context& ctx, std::string_view command,
                                          const Json& args);

}  // namespace murmela
