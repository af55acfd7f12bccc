#pragma once

#include <string>
#include <string_view>

#include "cli/context.hpp"

namespace murmela {

// 32 ASCII hexadecimal digits, either case.
bool has_full_id_shape(std::string_view argument);

// Picks the ID that `argument` names from the app's meeting list: `latest`
// for the first, otherwise the one ID that starts with it.
[[nodiscard]] Result<std::string> pick_meeting_id(const Json& meeting_list,
                                                  const std::string& argument);

// A full ID, a unique prefix or `latest`, turned into a full meeting ID. Asks
// the app for its list unless the argument already has the full-ID shape.
[[nodiscard]] Result<std::string> resolve_meeting_id(const Context& ctx,
                                                     const std::string& argument);

}  // namespace murmela
