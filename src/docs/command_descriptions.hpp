#pragma once

#include <string_view>

namespace murmela {

// What a documented command does, in a sentence or two, for the manual page
// and the shells' completion menus; `words` are its command words,
// space-joined ("meetings export"). The help text keeps its own short lines.
// The first clause (up to ". ", "; " or ": ") is short enough for a menu.
// Empty for a command the table does not describe.
std::string_view command_description(std::string_view words);

// The description's first clause, without a final full stop.
std::string_view menu_summary(std::string_view description);

}  // namespace murmela
