#include "cli/meetings/meeting_id.hpp"

#include <algorithm>
#include <cctype>

#include <fmt/format.h>

#include "app_link/app_commands.hpp"

namespace murmela {

bool has_full_id_shape(std::string_view argument) {
  return argument.size() == 32 && std::ranges::all_of(argument, [](char c) {
           return std::isxdigit(static_cast<unsigned char>(c)) != 0;
         });
}

Result<std::string> pick_meeting_id(const Json& meeting_list, const std::string& argument) {
  const Json empty = Json::array();
  const Json& meetings = meeting_list.is_array() ? meeting_list : empty;

  if (argument == "latest") {
    if (!meetings.empty()) {
      if (const std::string* id = string_member(meetings[0], "id")) return *id;
    }
    return fail(CliError::failed("There are no meetings yet."));
  }

  const std::string* match = nullptr;
  std::size_t matches = 0;
  for (const Json& meeting : meetings) {
    const std::string* id = string_member(meeting, "id");
    if (id && id->starts_with(argument)) {
      match = id;
      ++matches;
    }
  }
  if (matches == 1) return *match;
  if (matches == 0) {
    return fail(CliError::failed(
        fmt::format("No meeting ID starts with `{}`. Run `murmela-cli meetings list`.", argument)));
  }
  return fail(CliError::failed(
      fmt::format("`{}` matches {} meetings; use more characters.", argument, matches)));
}

Result<std::string> resolve_meeting_id(const Context& ctx, const std::string& argument) {
  if (has_full_id_shape(argument)) return argument;
  TRY_ASSIGN(auto meetings,
             call_app(ctx, app_command("list_meetings").name, Json::object(), false));
  return pick_meeting_id(meetings, argument);
}

}  // namespace murmela
