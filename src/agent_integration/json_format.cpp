#include "agent_integration/json_format.hpp"

#include <map>
#include <optional>

#include <fmt/format.h>

#include "agent_integration/agent_environment.hpp"
#include "agent_integration/json_members.hpp"
#include "common/json.hpp"
#include "common/json_writer.hpp"
#include "common/try.hpp"
#include "common/utf8.hpp"

namespace murmela {

namespace {

constexpr std::string_view kServerName = "murmela";

Json desired_entry(EntryShape shape, const std::string& cli_path) {
  if (shape == EntryShape::Opencode) {
    return {{"type", "local"}, {"command", Json::array({cli_path, "mcp"})}, {"enabled", true}};
  }
  return {{"command", cli_path}, {"args", Json::array({"mcp"})}};
}

bool is_own_entry(const Json& value) {
  if (!value.is_object() || !value.contains("command")) return false;
  const Json* command = &value.at("command");
  if (command->is_array() && !command->empty()) command = &command->at(0);
  return command->is_string() && is_own_cli(command->get<std::string>());
}

// The file's top-level members and, from the member `servers_key`, the
// servers (none when the file has no such member).
struct ServersFile {
  MemberList top;
  MemberList servers;
};

std::expected<ServersFile, std::string> read_servers(const std::string& text,
                                                     const std::string& servers_key) {
  auto top = parse_members(text);
  if (!top) return std::unexpected("not plain JSON, left alone");
  ServersFile file{*std::move(top), {}};
  if (const Member* servers = file.top.find(servers_key)) {
    auto parsed = parse_members(servers->raw);
    if (!parsed) return std::unexpected(fmt::format("`{}` is not an object", servers_key));
    file.servers = *std::move(parsed);
  }
  return file;
}

std::expected<FoundEntry, std::string> find_json_entry(const std::string& text,
                                                       const std::string& servers_key,
                                                       const Json& desired, bool path_is_text) {
  TRY_ASSIGN(ServersFile file, read_servers(text, servers_key));
  const Member* ours = file.servers.find(kServerName);
  if (!ours) return FoundEntry{};
  auto value = parse_json(ours->raw);
  return FoundEntry{.present = true,
                    .ours = value && is_own_entry(*value),
                    .points_here = value && path_is_text && *value == desired};
}

// The text with our entry set to `entry` (compact text) or removed; the
// servers member goes once it is empty, and is added at the end when missing.
std::string edited_json(const std::string& text, const std::string& servers_key,
                        EntryDecision change, const std::string& entry) {
  auto file = read_servers(text, servers_key);
  // find_json_entry accepted this text; were it otherwise, the text comes back
  // unchanged, which no check takes for an edit.
  if (!file) return text;
  MemberList& servers = file->servers;
  switch (change) {
    case EntryDecision::Add:
      servers.members.push_back({std::string(kServerName), entry});
      break;
    case EntryDecision::Update:
      if (Member* ours = servers.find(kServerName)) ours->raw = entry;
      break;
    case EntryDecision::Remove:
      servers.erase(kServerName);
      break;
    default:
      return text;
  }

  const std::string line_ending = text.find("\r\n") != std::string::npos ? "\r\n" : "\n";
  if (servers.members.empty()) {
    file->top.erase(servers_key);
  } else if (Member* member = file->top.find(servers_key)) {
    member->raw = format_members(servers, 2, line_ending);
  } else {
    file->top.members.push_back({servers_key, format_members(servers, 2, line_ending)});
  }
  return format_members(file->top, 0, line_ending) + line_ending;
}

// A value's text with keys in order and repeats resolved, numbers and strings
// as written: two values are the same JSON exactly when these are equal,
// including values no number or string type can hold.
std::string canonical(JsonView value) {
  return json_text(value, {.pretty = false, .numbers_as_written = true});
}

// The document's top-level members as canonical texts, our entry left out
// of the servers object (and that object left out once empty).
std::map<std::string, std::string> members_without_ours(JsonView root,
                                                        std::string_view servers_key) {
  std::map<std::string, std::string> members;
  for (std::uint32_t child = root.index() + 1; child < root.after_index();) {
    const JsonView key = root.at(child);
    const JsonView value = root.at(key.after_index());
    child = value.after_index();
    if (key.string() != servers_key || !value.is_object()) {
      members[key.string()] = canonical(value);
      continue;
    }
    std::map<std::string, std::string> servers;
    for (std::uint32_t server = value.index() + 1; server < value.after_index();) {
      const JsonView name = value.at(server);
      const JsonView entry = value.at(name.after_index());
      server = entry.after_index();
      if (name.string() != kServerName) servers[name.string()] = canonical(entry);
    }
    std::string text;
    for (const auto& [name, entry] : servers) text += name + '\0' + entry + '\0';
    if (servers.empty()) {
      members.erase(key.string());
    } else {
      members[key.string()] = text;
    }
  }
  return members;
}

// Whether the edited text is the original with exactly our entry changed:
// set to `desired` (compact text), or gone when there is none.
bool is_exact_edit(const std::string& original, const std::string& edited,
                   std::string_view servers_key, const std::optional<std::string>& desired) {
  auto before = read_json(original);
  auto after = read_json(edited);
  if (!before || !after || !after->root().is_object()) return false;
  const auto servers = after->root().find(servers_key);
  const auto ours = servers ? servers->find(kServerName) : std::nullopt;
  if (desired ? !ours || canonical(*ours) != *desired : ours.has_value()) return false;
  return members_without_ours(before->root(), servers_key) ==
         members_without_ours(after->root(), servers_key);
}

}  // namespace

ConfigFormat json_format(const std::string& servers_key, EntryShape shape,
                         const std::string& cli_path) {
  // The entry names the CLI, so it can only be written for a path that is text.
  const bool path_is_text = is_valid_utf8(cli_path);
  const Json desired = desired_entry(shape, lossy_utf8(cli_path));
  const std::string entry = to_compact(desired);
  return {
      .missing_text = "{}",
      .can_name_cli = path_is_text,
      .find =
          [=](const std::string& text) {
            return find_json_entry(text, servers_key, desired, path_is_text);
          },
      .edit = [=](const std::string& text,
                  EntryDecision change) { return edited_json(text, servers_key, change, entry); },
      .check =
          [=](const std::string& text, const std::string& edited, EntryDecision change) {
            return is_exact_edit(
                text, edited, servers_key,
                change == EntryDecision::Remove ? std::nullopt : std::optional(entry));
          },
  };
}

}  // namespace murmela
